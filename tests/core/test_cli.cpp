// The Gainmesh executable's command line, run as a user runs it: the exact texts on stdout and
// stderr, the exit codes, and the settings file it changes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_home.h"

namespace {

constexpr const char* kUsage =
    "usage: Gainmesh --status | --diag | --scan | --install | --remove | --switch wing|x32 on|off\n"
    "                | --setting wing|x32 recall on|off | --setting wing|x32 resync lv1|desk | "
    "--support | --update-now\n";
constexpr const char* kSettingError = "recall on|off, or resync lv1|desk\n";

struct Outcome {
  int code = -1;
  std::string out, err;
};

class CommandLine : public gmtest::TempHomeTest {
 protected:
  // Runs the built executable with these arguments; stdout and stderr apart.
  // `env` (assignments ending in a space) is put before the command.
  Outcome gainmesh(const std::string& args, const std::string& env = "") {
    const std::string err_file = home_.path() + "/stderr.txt";
    const std::string cmd = env + "'" GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh' " +
                            args + " 2>'" + err_file + "'";
    Outcome r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) r.out.append(buf.data(), n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = gmtest::read_file(err_file);
    return r;
  }
  std::string wing_cfg() const {
    return home_.io_modules_dir() + "/Gainmesh.bundle/Contents/MacOS/wing.cfg";
  }
};

TEST_F(CommandLine, BadArgumentsGiveTheUsageOrTheSettingTextAndExitTwo) {
  struct Case {
    const char* args;
    const char* err;
  } cases[] = {
      {"--switch", kUsage},
      {"--switch wing", kUsage},
      {"--switch m32 on", kUsage},
      {"--switch wing maybe", kUsage},
      {"--setting wing recall", kUsage},
      {"--setting x33 recall on", kUsage},
      {"--setting wing recall yes", kSettingError},
      {"--setting x32 resync on", kSettingError},
      {"--setting wing gain 10", kSettingError},
  };
  for (const Case& c : cases) {
    const Outcome r = gainmesh(c.args);
    EXPECT_EQ(r.code, 2) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
}

TEST_F(CommandLine, ASettingIsWrittenWholeAndPrintedAsStored) {
  home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg",
              "; wing module settings\nresync=desk\nbank=LCL\n");
  struct stat before {};
  ASSERT_EQ(stat(wing_cfg().c_str(), &before), 0);
  const Outcome r = gainmesh("--setting wing resync lv1 and more");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "wing resync=lv1\n");
  EXPECT_EQ(gmtest::read_file(wing_cfg()), "; wing module settings\nresync=lv1\nbank=LCL\n");
  struct stat after {};
  ASSERT_EQ(stat(wing_cfg().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "replaced whole, never written in place";

  const Outcome recall = gainmesh("--setting wing recall off");
  EXPECT_EQ(recall.out, "wing recall=off\n");
  EXPECT_NE(gmtest::read_file(wing_cfg()).find("\nsession_recall=off\n"), std::string::npos);
  const std::string log = gmtest::read_file(home_.logs_dir() + "/gainmesh-app.log");
  EXPECT_NE(log.find("  setup: wing resync=lv1\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  setup: wing session_recall=off\n"), std::string::npos) << log;
}

TEST_F(CommandLine, ASettingThatCannotBeSavedIsNotReportedAsDone) {
  const Outcome r = gainmesh("--setting x32 recall on");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Could not save it to " + home_.io_modules_dir() +
                       "/Gainmesh.bundle/Contents/MacOS/x32.cfg - is Gainmesh installed in LV1?\n");
}

TEST_F(CommandLine, AnUnknownOptionStartsTheApp) {
  // The app quits by itself after two ticks; this first launch opens the Setup window.
  const Outcome app =
      gainmesh("--frobnicate", "QT_QPA_PLATFORM=offscreen GAINMESH_TEST_QUIT_AFTER_TICKS=2 ");
  EXPECT_EQ(app.code, 0);
  EXPECT_EQ(app.out, "");
  const std::string log = gmtest::read_file(home_.logs_dir() + "/gainmesh-app.log");
  EXPECT_NE(log.find("---- Gainmesh 3.2.0 "), std::string::npos);
  EXPECT_NE(log.find("app: launched with no menu-bar item, Setup window open"), std::string::npos)
      << log;
  EXPECT_NE(gmtest::read_file(home_.path() + "/Library/Preferences/org.ambervale.gainmesh.conf")
                .find("permissionsShown=true"),
            std::string::npos);
}

TEST_F(CommandLine, InstallAndSwitchSayWhyNothingWasInstalled) {
  const Outcome install = gainmesh("--install");
  EXPECT_EQ(install.code, 1);
  EXPECT_EQ(install.err, "Could not install \xE2\x80\x94 No supported I/O module found.\n");
  const Outcome off = gainmesh("--switch x32 off");
  EXPECT_EQ(off.code, 0);
  EXPECT_EQ(off.out, "x32 is not installed - nothing to switch off\n");
  const Outcome on = gainmesh("--switch wing on");
  EXPECT_EQ(on.code, 1);
  EXPECT_EQ(on.out,
            "wing off - Could not switch it on \xE2\x80\x94 No supported I/O module found.\n");
}

}  // namespace
