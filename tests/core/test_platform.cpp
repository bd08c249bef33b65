// The core's OS seam and LV1 facts: helper programs, opening an application bundle, process
// facts from the process table and LV1's bundle lookup, in a temporary home.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "lv1.h"
#include "platform.h"
#include "support/eventually.h"
#include "support/temp_home.h"

namespace {

constexpr const char* kSh = "/bin/sh";

class Platform : public gmtest::TempHomeTest {
 protected:
  std::string script(const std::string& rel, const std::string& body) {
    const std::string path = home_.write(rel, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
    return path;
  }
};

TEST_F(Platform, RunGivesTheExitStatusOrMinusOne) {
  struct Case {
    std::vector<std::string> argv;
    int status;
  } cases[] = {
      {{kSh, "-c", "exit 3"}, 3},         {{kSh, "-c", "exit 0"}, 0},
      {{kSh, "-c", "kill -KILL $$"}, -1}, {{"sh", "-c", "exit 0"}, -1},  // PATH is not searched
      {{"/nonexistent/program"}, -1},     {{}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(gm::run(c.argv, nullptr, 10), c.status) << (c.argv.empty() ? "" : c.argv.back());
  }
}

TEST_F(Platform, RunCollectsOutputAndErrorEvenWhenAHelperLeftBehindHoldsThePipe) {
  std::string out;
  EXPECT_EQ(gm::run({kSh, "-c", "echo one; echo two >&2; head -c 100000 /dev/zero | tr '\\0' x"},
                    &out, 10),
            0);
  EXPECT_EQ(out.substr(0, 8), "one\ntwo\n");
  EXPECT_EQ(out.size(), 8u + 100000u);

  out.clear();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(gm::run({kSh, "-c", "echo done; sleep 20 & exit 4"}, &out, 10), 4);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8))
      << "the exit is taken without waiting for the background sleep to close the pipe";
  EXPECT_EQ(out, "done\n");
}

TEST_F(Platform, RunKillsAProgramPastItsTimeoutAndLeavesNoChild) {
  const std::string pid_file = home_.path() + "/pid";
  std::string out;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(gm::run({kSh, "-c", "echo $$ > '" + pid_file + "'; exec sleep 30"}, &out, 1), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  const pid_t pid = std::stoi(gmtest::read_file(pid_file));
  EXPECT_EQ(kill(pid, 0), -1) << "the sleeping program is gone";
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "and reaped";
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(Platform, OpeningAnAppStartsItsExecutableDetachedWithTheArguments) {
  const std::string app = home_.path() + "/Tools/Echo.app";
  home_.write("Tools/Echo.app/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleExecutable</key><string>echo args</string></dict></plist>\n");
  // Writes its arguments, one a line, then its session id.
  script("Tools/Echo.app/Contents/MacOS/echo args",
         "d=$(dirname \"$0\")\n"
         "{ for a in \"$@\"; do echo \"$a\"; done; ps -o sid= -p $$ | tr -d ' '; } > "
         "\"$d/args.part\"\n"
         "mv \"$d/args.part\" \"$d/args\"\n");
  const std::string args_file = app + "/Contents/MacOS/args";

  ASSERT_TRUE(gm::open_path(app, {"--updated=42", "two words"}, true));
  ASSERT_TRUE(gmtest::wait_for([&] { return gmtest::file_exists(args_file); }, 10000));
  std::string text = gmtest::read_file(args_file);
  const std::string args = "--updated=42\ntwo words\n";
  ASSERT_EQ(text.substr(0, args.size()), args);
  EXPECT_NE(text.substr(args.size()), std::to_string(getsid(0)) + "\n")
      << "it runs in a session of its own";
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "and is not our child";

  unlink(args_file.c_str());
  ASSERT_TRUE(gm::open_path(app + "/", {}, false));
  ASSERT_TRUE(gmtest::wait_for([&] { return gmtest::file_exists(args_file); }, 10000));
  text = gmtest::read_file(args_file);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "no arguments, only the session";

  EXPECT_FALSE(gm::open_path(home_.path() + "/Tools/Missing.app", {}, false));
  chmod((app + "/Contents/MacOS/echo args").c_str(), 0644);
  EXPECT_FALSE(gm::open_path(app, {}, false)) << "an executable that cannot run";
}

TEST_F(Platform, ProcessFactsComeFromTheProcessTable) {
  const auto before = std::time(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    prctl(PR_SET_NAME, "eMotion LV1 Helper");
    const int fd = open("/dev/null", O_RDONLY);
    (void)fd;
    pause();
    _exit(0);
  }
  const uint32_t pid = static_cast<uint32_t>(child);
  EXPECT_TRUE(gmtest::wait_for([&] { return gm::process_name(pid) == "eMotion LV1 Hel"; }, 5000))
      << "names are cut at 15 characters";
  EXPECT_NE(gm::lv1_pid(), pid) << "a name that goes on after \"eMotion LV1\" is not LV1";
  const std::vector<uint32_t> ids = gm::process_ids();
  EXPECT_NE(std::find(ids.begin(), ids.end(), pid), ids.end());
  int64_t s = 0, us = -1;
  ASSERT_TRUE(gm::process_start_time(pid, &s, &us));
  EXPECT_GE(s, before - 2);
  EXPECT_LE(s, std::time(nullptr) + 1);
  EXPECT_TRUE(us >= 0 && us < 1000000);
  const std::vector<std::string> open_files = gm::process_open_files(pid);
  EXPECT_NE(std::find(open_files.begin(), open_files.end(), "/dev/null"), open_files.end());
  for (const std::string& f : open_files) EXPECT_EQ(f[0], '/') << f;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  EXPECT_EQ(gm::process_name(pid), "");
  EXPECT_FALSE(gm::process_start_time(pid, &s, &us));
  EXPECT_TRUE(gm::lv1_open_files(0).empty());
  EXPECT_TRUE(gm::lv1_open_files(pid).empty());
  EXPECT_EQ(gm::executable_path().substr(gm::executable_path().rfind('/')), "/test_core_platform");
}

class Lv1Bundle : public gmtest::TempHomeTest {
 protected:
  const std::string app_ = home_.path() + gm::kLv1AppPath;

  void write_binary_info(plist_t dict) {
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bin, &length);
    home_.write(app_.substr(home_.path().size() + 1) + "/Contents/Info.plist",
                std::string(bin, length));
    free(bin);
    plist_free(dict);
  }
};

TEST_F(Lv1Bundle, FoundBelowTheHomeWithItsVersion) {
  if (gmtest::file_exists(std::string(gm::kLv1AppPath) + "/Contents/Info.plist")) {
    GTEST_SKIP() << "LV1 is installed in /Applications on this machine";
  }
  std::string app, version;
  gm::lv1_find_bundle(&app, &version);
  EXPECT_EQ(app, "");
  EXPECT_EQ(version, "");

  struct Case {
    const char* what;
    plist_t version, short_version;
    const char* expect;
  } cases[] = {
      {"bundle version", plist_new_string("14.0.1"), plist_new_string("14.0"), "14.0.1"},
      {"empty bundle version", plist_new_string(""), plist_new_string("14.2"), "14.2"},
      {"bundle version not a text", plist_new_uint(15), plist_new_string("15.0"), "15.0"},
      {"neither", nullptr, plist_new_bool(1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plist_t dict = plist_new_dict();
    if (c.version) plist_dict_set_item(dict, "CFBundleVersion", c.version);
    plist_dict_set_item(dict, "CFBundleShortVersionString", c.short_version);
    write_binary_info(dict);
    gm::lv1_find_bundle(&app, &version);
    EXPECT_EQ(app, app_);
    EXPECT_EQ(version, c.expect);
  }

  gm::lv1_forget_bundle();
  const gm::Lv1 info = gm::lv1_info();
  EXPECT_EQ(info.app, app_);
  if (info.pid == 0) {
    EXPECT_EQ(info.up_ms, -1);
    EXPECT_EQ(info.start_s, 0);
  }
  home_.write(app_.substr(home_.path().size() + 1) + "/Contents/Info.plist", "not a plist");
  EXPECT_EQ(gm::lv1_info().app, app_) << "looked up again only after 10 s";
  gm::lv1_find_bundle(&app, &version);
  EXPECT_EQ(version, "") << "an unreadable dictionary has no version";
}

}  // namespace
