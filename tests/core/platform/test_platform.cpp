// The core's OS seam: helper programs, opening an application bundle, and telling LV1 by its
// exact process name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "lv1.h"
#include "platform.h"
#include "support/eventually.h"
#include "support/temp_home.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kSh = "/bin/sh";

class Platform : public gmtest::TempHomeTest {};

TEST_F(Platform, RunGivesTheExitStatusOrMinusOne) {
  struct Case {
    std::vector<std::string> argv;
    int status;
  } cases[] = {{{kSh, "-c", "exit 3"}, 3},
               {{kSh, "-c", "kill -KILL $$"}, -1},
               {{"sh", "-c", "exit 0"}, -1},  // PATH is not searched
               {{}, -1}};
  for (const Case& c : cases) EXPECT_EQ(gm::run(c.argv, nullptr, 10), c.status);

  // A helper that leaves a background job holding the pipe: its exit is taken at once.
  std::string out;
  const auto start = Clock::now();
  EXPECT_EQ(gm::run({kSh, "-c", "echo done; echo err >&2; sleep 20 & exit 4"}, &out, 10), 4);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(out, "done\nerr\n");
}

TEST_F(Platform, RunKillsAProgramPastItsTimeoutAndLeavesNoChild) {
  const std::string pid_file = home_.path() + "/pid";
  EXPECT_EQ(gm::run({kSh, "-c", "echo $$ > '" + pid_file + "'; exec sleep 30"}, nullptr, 1), -1);
  EXPECT_EQ(kill(std::stoi(gmtest::read_file(pid_file)), 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "nothing left to reap";
}

TEST_F(Platform, OpeningAnAppStartsItsExecutableDetachedWithTheArguments) {
  const std::string app = home_.path() + "/Tools/Echo.app";
  home_.write("Tools/Echo.app/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleExecutable</key><string>echo args</string></dict></plist>\n");
  // Writes its arguments, one a line, then its session id.
  const std::string exe = home_.write(
      "Tools/Echo.app/Contents/MacOS/echo args",
      "#!/bin/sh\nd=$(dirname \"$0\")\n"
      "{ for a in \"$@\"; do echo \"$a\"; done; ps -o sid= -p $$ | tr -d ' '; } > \"$d/a.part\"\n"
      "mv \"$d/a.part\" \"$d/args\"\n");
  chmod(exe.c_str(), 0755);
  const std::string args_file = app + "/Contents/MacOS/args";

  ASSERT_TRUE(gm::open_path(app, {"--updated=42", "two words"}, true));
  ASSERT_TRUE(gmtest::wait_for([&] { return gmtest::file_exists(args_file); }, 10000));
  const std::string text = gmtest::read_file(args_file), args = "--updated=42\ntwo words\n";
  EXPECT_EQ(text.substr(0, args.size()), args);
  EXPECT_NE(text.substr(args.size()), std::to_string(getsid(0)) + "\n") << "a session of its own";
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "it is not our child";

  chmod(exe.c_str(), 0644);
  EXPECT_FALSE(gm::open_path(app, {}, false)) << "an executable that cannot run";
}

TEST_F(Platform, OnlyTheExactNameIsLv1) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    prctl(PR_SET_NAME, "eMotion LV1 Helper");
    pause();
    _exit(0);
  }
  const uint32_t pid = static_cast<uint32_t>(child);
  EXPECT_TRUE(gmtest::wait_for([&] { return gm::process_name(pid) == "eMotion LV1 Hel"; }, 5000));
  EXPECT_NE(gm::lv1_pid(), pid);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace
