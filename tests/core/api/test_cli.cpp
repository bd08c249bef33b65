// The Gainmesh executable's command line, run as a user runs it: the exact texts on stdout and
// stderr, the exit codes, and the settings file it changes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <vector>

#include "support/app_run.h"
#include "support/installed_bundle.h"
#include "support/json_check.h"
#include "support/temp_home.h"

namespace {

constexpr const char* kUsage =
    "usage: Gainmesh --status | --diag | --scan | --install | --remove | --switch wing|x32 on|off\n"
    "                | --setting wing|x32 recall on|off | --setting wing|x32 resync lv1|desk | "
    "--support | --update-now\n";
constexpr const char* kSettingError = "recall on|off, or resync lv1|desk\n";

// Runs the executable as from a terminal without a desktop session.
const std::vector<std::string> kNoDisplay = {
    "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "WAYLAND_SOCKET", "-u", "QT_QPA_PLATFORM"};

using gmtest::run_app;

class CommandLine : public gmtest::TempHomeTest {
 protected:
  std::string wing_cfg() const {
    return home_.io_modules_dir() + "/Gainmesh.bundle/Contents/MacOS/wing.cfg";
  }
};

TEST_F(CommandLine, BadArgumentsGiveTheUsageOrTheSettingTextAndExitTwo) {
  struct Case {
    const char* args;
    const char* err;
  } cases[] = {
      {"--switch wing", kUsage},
      {"--setting x33 recall on", kUsage},
      {"--setting wing gain 10", kSettingError},
  };
  for (const Case& c : cases) {
    const gmtest::AppRun r = run_app(c.args);
    EXPECT_TRUE(r.exited(2)) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
}

TEST_F(CommandLine, ASettingIsWrittenWholeAndPrintedAsStored) {
  home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg",
              "; wing module settings\nresync=desk\nbank=LCL\n");
  struct stat before {};
  ASSERT_EQ(stat(wing_cfg().c_str(), &before), 0);
  const gmtest::AppRun r = run_app("--setting wing resync lv1 and more");
  EXPECT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out, "wing resync=lv1\n");
  EXPECT_EQ(gmtest::read_file(wing_cfg()), "; wing module settings\nresync=lv1\nbank=LCL\n");
  struct stat after {};
  ASSERT_EQ(stat(wing_cfg().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "replaced whole, never written in place";

  EXPECT_EQ(run_app("--setting wing recall off").out, "wing recall=off\n");
  EXPECT_NE(gmtest::read_file(wing_cfg()).find("\nsession_recall=off\n"), std::string::npos);
}

TEST_F(CommandLine, ASettingThatCannotBeSavedIsNotReportedAsDone) {
  const gmtest::AppRun r = run_app("--setting x32 recall on");
  EXPECT_TRUE(r.exited(1));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Could not save it to " + home_.io_modules_dir() +
                       "/Gainmesh.bundle/Contents/MacOS/x32.cfg - is Gainmesh installed in LV1?\n");
}

TEST_F(CommandLine, AnUnknownOptionStartsTheApp) {
  // The app quits by itself after two ticks. What its first launch shows is AppTest's.
  const gmtest::AppRun app =
      run_app("--frobnicate", {"QT_QPA_PLATFORM=offscreen", "GAINMESH_TEST_QUIT_AFTER_TICKS=2"});
  EXPECT_TRUE(app.exited(0)) << app.err;
  EXPECT_EQ(app.out, "");
  EXPECT_NE(home_.app_log().find("---- Gainmesh 3.2.0 "), std::string::npos);
}

TEST_F(CommandLine, InstallAndSwitchSayWhyNothingWasInstalled) {
  const gmtest::AppRun install = run_app("--install");
  EXPECT_TRUE(install.exited(1));
  EXPECT_EQ(install.err, "Could not install \xE2\x80\x94 No supported I/O module found.\n");
  const gmtest::AppRun off = run_app("--switch x32 off");
  EXPECT_TRUE(off.exited(0));
  EXPECT_EQ(off.out, "x32 is not installed - nothing to switch off\n");
  const gmtest::AppRun on = run_app("--switch wing on");
  EXPECT_TRUE(on.exited(1));
  EXPECT_EQ(on.out,
            "wing off - Could not switch it on \xE2\x80\x94 LV1's IO Modules folder has no "
            "SoundGrid Wing Control module from Waves, which Gainmesh needs for the WING.\n");
}

// With Gainmesh installed and Waves' X-WSG module gone, switching the X32 / M32 on says why and
// leaves the WING on; a support file that cannot be written says so in the full sentence.
TEST_F(CommandLine, FailuresPrintTheFullSentenceAndChangeNothing) {
  const gmtest::InstalledBundle bundle(home_, {.wing_ip = "127.0.0.1"});
  const gmtest::AppRun on = run_app("--switch x32 on");
  EXPECT_TRUE(on.exited(1));
  EXPECT_EQ(on.out,
            "x32 off - Could not switch it on \xE2\x80\x94 LV1's IO Modules folder has no "
            "SoundGrid X-WSG Control module from Waves, which Gainmesh needs for the X32 / M32.\n");
  EXPECT_EQ(gmtest::read_file(bundle.macos_dir() + "/state.cfg"), "wing=on\nx32=on\n");

  home_.write("Desktop", "a file where the folder should be");
  const gmtest::AppRun support = run_app("--support");
  EXPECT_TRUE(support.exited(1));
  EXPECT_EQ(support.out, "");
  EXPECT_TRUE(std::regex_match(
      support.err, std::regex("Could not save the support file \xE2\x80\x94 Could not write " +
                              home_.path() + R"(/Desktop/Gainmesh-support-\d{8}-\d{6}\.zip\.\n)")))
      << support.err;
}

// One page document on one line, which Python reads and which says that LV1 is not installed;
// --version prints the footer's version. The command line needs no display.
TEST_F(CommandLine, StatusPrintsOnePageDocumentAndVersionItsFooter) {
  const gmtest::AppRun r = run_app("--status and more", {}, kNoDisplay);
  EXPECT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
  EXPECT_EQ(gmtest::python_on_json(r.out, "print(doc['lv1']['found'])"), "False\n");

  const gmtest::AppRun version = run_app("--version", {}, kNoDisplay);
  EXPECT_TRUE(version.exited(0)) << version.err;
  EXPECT_EQ(version.out.rfind("Gainmesh 3.2.0 core \xC2\xB7 ", 0), 0u) << version.out;
  EXPECT_EQ(version.out.find('\n'), version.out.size() - 1) << version.out;
  EXPECT_EQ(
      gmtest::python_on_json(r.out, "sys.stdout.buffer.write(doc['version'].encode() + b'\\n')"),
      version.out);
}

// A first try in a terminal without a desktop: the help answers, the app explains instead of
// aborting, and the drawing tools still draw.
TEST_F(CommandLine, WithoutADisplayTheHelpAnswersAndTheAppSaysWhyItCannotStart) {
  for (const char* help : {"--help", "-h"}) {
    const gmtest::AppRun r = run_app(help, {}, kNoDisplay);
    EXPECT_TRUE(r.exited(0)) << help;
    EXPECT_EQ(r.out, kUsage) << help;
    EXPECT_EQ(r.err, "") << help;
  }
  const gmtest::AppRun app = run_app("", {}, kNoDisplay);
  EXPECT_TRUE(app.exited(1)) << "ended by a signal or another code: " << app.status;
  EXPECT_EQ(app.out, "");
  EXPECT_EQ(app.err,
            "Gainmesh needs a desktop session for its menu-bar item and Setup window. Without "
            "one, use Gainmesh --status, --scan or --diag (see Gainmesh --help).\n");
  EXPECT_FALSE(gmtest::file_exists(home_.logs_dir() + "/gainmesh-app.log")) << "nothing started";

  const std::string icons = home_.path() + "/Gainmesh.iconset";
  const gmtest::AppRun iconset = run_app("--make-iconset " + icons, {}, kNoDisplay);
  EXPECT_TRUE(iconset.exited(0)) << iconset.err;
  EXPECT_TRUE(gmtest::file_exists(icons + "/icon_16x16.png"));
}

}  // namespace
