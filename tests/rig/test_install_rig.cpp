// Installing with the built Gainmesh executable into an IO Modules folder that holds Waves' three
// card bundles: an install killed at any step leaves a bundle the next install completes, the
// installed loader runs the signed wing module inside LV1 until the command line switches it off,
// and removing waits for LV1 to quit. The installed module reaching a desk is the demo's; taking
// up a newer module inside LV1 is CoreLiveStatus's.
// The administrator step runs the app as an ordinary user against a root-owned folder, with a
// setuid stand-in for pkexec running the real root child.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "drive/card_bundles.h"
#include "lv1.h"
#include "status.h"
#include "support/app_run.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"
#include "util.h"

namespace {

namespace fs = std::filesystem;
using gmtest::read_file;
using ::testing::HasSubstr;

constexpr const char* kApp = GM_BUILD_DIR "/Gainmesh.app";

using gmtest::AppRun;
using gmtest::run_app;

class InstallRig : public gmtest::Lv1RigTest {
 protected:
  // An install refuses while an LV1 runs, also one of another test on this machine.
  static bool lv1_closed() {
    return gmtest::wait_for([] { return !gm::lv1_running(); }, 60000);
  }

  void SetUp() override {
    if (!lv1_closed()) GTEST_SKIP() << "another eMotion LV1 kept running on this machine";
    for (const char* card : {gmtest::kWingCard, gmtest::kX32Card, gmtest::kDn32Card}) {
      rig::lay_out_card_bundle(home_.io_modules_dir(), card);
    }
  }

  std::string bundle() const { return home_.io_modules_dir() + "/Gainmesh.bundle"; }
  std::string loader() const { return read_file(bundle() + "/Contents/MacOS/Gainmesh"); }
  // Every file of the bundle at `dir` with its bytes, but the settings' empty lock files, which an
  // install makes beside the settings it carries over.
  static std::vector<std::pair<std::string, std::string>> bundle_files(const std::string& dir) {
    auto files = rig::tree_snapshot(dir);
    std::erase_if(files, [](const auto& f) { return f.first.ends_with(".cfg.lock"); });
    return files;
  }
};

TEST_F(InstallRig, AnInstallKilledAtAnyStepLeavesABundleTheNextInstallCompletes) {
  // An app of our own, so that each round can carry a loader of its own.
  const std::string app = home_.path() + "/Gainmesh.app";
  fs::create_directories(app + "/Contents");
  fs::copy(GM_BUILD_DIR "/Gainmesh.app/Contents/Library", app + "/Contents/Library",
           fs::copy_options::recursive);
  const std::string payload_loader = app + "/Contents/Library/Payload/Gainmesh";
  const std::vector<std::string> env = {"GAINMESH_APP=" + app};
  ASSERT_TRUE(run_app("--install", env).exited(0));
  home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/state.cfg", "wing=on\nx32=off\n");
  const std::string state = bundle() + "/Contents/MacOS/state.cfg";

  for (const char* step : {"resources", "loader", "modules", "settings", "swap", "done"}) {
    const std::string old_loader = loader();
    const auto before = bundle_files(bundle());
    home_.write("Gainmesh.app/Contents/Library/Payload/Gainmesh", old_loader + step);
    std::vector<std::string> kill = env;
    kill.push_back(std::string("GAINMESH_TEST_KILL_AT=") + step);
    lv1_closed();
    const AppRun killed = run_app("--install", kill);
    ASSERT_TRUE(WIFSIGNALED(killed.status) && WTERMSIG(killed.status) == SIGKILL)
        << step << ": " << killed.err;
    // Killed between the two renames, the old bundle waits beside under ".old". Either way the
    // bundle there is whole: every file of the old one, or every file of the new one.
    const auto now = bundle_files(gmtest::file_exists(bundle()) ? bundle() : bundle() + ".old");
    lv1_closed();
    const AppRun again = run_app("--install", env);
    EXPECT_TRUE(again.exited(0)) << step << ": " << again.err;
    EXPECT_EQ(again.out, "installed\n");
    EXPECT_TRUE(now == before || now == bundle_files(bundle())) << step;
    EXPECT_EQ(loader(), read_file(payload_loader)) << step;
    EXPECT_EQ(read_file(state), "wing=on\nx32=off\n") << step << ": the settings survive";
    EXPECT_FALSE(gmtest::file_exists(bundle() + ".new") || gmtest::file_exists(bundle() + ".old"));
  }
}

// Then LV1 quits, and the removal leaves Waves' bundles as they were.
TEST_F(InstallRig, TheInstalledLoaderRunsTheModuleUntilSwitchedOffAndIsRemovedOnceLv1Quits) {
  const auto waves = rig::tree_snapshot(home_.io_modules_dir());
  const AppRun install = run_app("--install");
  ASSERT_TRUE(install.exited(0)) << install.err;
  EXPECT_EQ(install.out, "installed\n");
  // A desk address where nothing answers: the module never searches the network.
  ASSERT_TRUE(gm::cfg_set_line(gm::con_cfg(0), "ip", gmtest::unique_loopback()));

  start_lv1_with_loader();
  const auto running = [] {
    GmLoaderStatus block{};
    if (!gm::read_loader_status(&block, gm::live_blocks(gm::lv1_info()))) return std::string("-");
    return std::string(block.consoles[0].running_version);
  };
  ASSERT_TRUE(gmtest::wait_for([&] { return running() == "3.2.0"; }, 10000)) << running();

  const AppRun off = run_app("--switch wing off");
  EXPECT_TRUE(off.exited(0)) << off.err;
  EXPECT_EQ(off.out, "confirm: switch the wing off (LV1 is running) - confirmed\nwing off\n");
  EXPECT_TRUE(gmtest::wait_for([&] { return running().empty(); }, 10000)) << "the loader let go";

  EXPECT_EQ(run_app("--remove").err, "Close eMotion LV1 first.\n");
  ASSERT_EQ(lv1_->quit(), 0);
  EXPECT_EQ(run_app("--remove").out, "removed\n");
  EXPECT_EQ(rig::tree_snapshot(home_.io_modules_dir()), waves);
}

class AdminRig : public InstallRig {
 protected:
  void SetUp() override {
    InstallRig::SetUp();
    // The user nobody needs nothing from the build or source folders, which may be closed to it.
    const std::string home = "'" + home_.path() + "'";
    const std::string cmd = "chown -R 65534:65534 " + home + " && chown -R 0:0 " + home +
                            "/'IO Modules' && install -m 4755 '" GM_FAKE_PKEXEC "' " + home +
                            "/pkexec && install '" GM_SOURCE_DIR
                            "/tests/support/pkexec_dismissed' " +
                            home + "/dismissed";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  // The executable of `app` run as the user nobody, with `elevate` playing pkexec.
  static AppRun as_user(const char* args, const std::string& elevate, const std::string& app,
                        std::vector<std::string> env = {}) {
    env.push_back("GAINMESH_TEST_ELEVATE=" + elevate);
    return run_app(args, env,
                   {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"},
                   app + "/Contents/MacOS/Gainmesh");
  }
  std::string pkexec() const { return home_.path() + "/pkexec"; }
  // Every file below the home (but the root-only folder) that holds `bytes`.
  std::vector<std::string> files_holding(const std::string& bytes) const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(home_.path())) {
      if (e.is_symlink() || !e.is_regular_file()) continue;
      if (e.path().string().find("/root-only/") != std::string::npos) continue;
      if (read_file(e.path().string()).find(bytes) != std::string::npos) {
        out.push_back(e.path().string());
      }
    }
    return out;
  }
};

TEST_F(AdminRig, TheRootChildInstallsForTheUserFromAnAppPathWithQuotesAndRemoves) {
  const auto waves = rig::tree_snapshot(home_.io_modules_dir());
  const std::string app = home_.path() + "/it's \"ours\".app";
  fs::copy(kApp, app, fs::copy_options::recursive);
  const AppRun dismissed = as_user("--install", home_.path() + "/dismissed", app);
  EXPECT_THAT(dismissed.err,
              HasSubstr("No administrator password was given, so nothing was changed."));
  const AppRun install = as_user("--install", home_.path() + "/pkexec", app);
  ASSERT_TRUE(install.exited(0)) << install.err;
  struct stat st {};
  stat((bundle() + "/Contents/MacOS/state.cfg").c_str(), &st);
  EXPECT_EQ(st.st_uid, 65534u) << "handed to the user";
  // The AppleScript text as logged: the path's quotes survived both quotings.
  EXPECT_THAT(home_.app_log(), HasSubstr(R"(/it'\\''s \"ours\".app' ')" + home_.path() +
                                         R"(' 65534 65534 -1" with prompt "Gainmesh needs)"));
  EXPECT_EQ(as_user("--remove", home_.path() + "/pkexec", app).out, "removed\n");
  EXPECT_EQ(rig::tree_snapshot(home_.io_modules_dir()), waves);
}

// The user plants links to root-only files where the root child reads: in the download mirror
// and in place of a settings file of the bundle the last install handed to them.
TEST_F(AdminRig, TheRootChildReadsNothingThroughPlantedLinksAndKeepsTheUsersSettings) {
  ASSERT_TRUE(as_user("--install", pkexec(), kApp).exited(0));
  const std::string macos = bundle() + "/Contents/MacOS/";
  home_.write("root-only/module", "ROOT MODULE SECRET");
  home_.write("root-only/settings", "ROOT SETTINGS SECRET");
  const std::string mirror = home_.path() + "/Library/Application Support/Gainmesh/modules/";
  const std::string cmd = "chmod -R go-rwx '" + home_.path() + "/root-only' && mkdir -p '" +
                          mirror + "' && " + "chown 65534:65534 '" + mirror + "' && cd '" + mirror +
                          "' && " + "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '" +
                          "ln -s ../../../../root-only/module wing-9.9.9.dylib && " +
                          "ln -s ../../../../root-only/module wing-9.9.9.dylib.sig && " +
                          "echo wing=on > \"" + macos + "state.cfg\" && rm \"" + macos +
                          "wing.cfg\" && " + "ln -s \"" + home_.path() +
                          "/root-only/settings\" \"" + macos + "wing.cfg\"'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  const AppRun refused = as_user("--install", pkexec(), kApp);
  EXPECT_TRUE(refused.exited(1));
  EXPECT_EQ(refused.err,
            "Could not install \xE2\x80\x94 Could not carry over wing.cfg from the installed "
            "Gainmesh bundle, so nothing was "
            "changed. Make it a plain file, or remove it to start from the default settings.\n");
  EXPECT_EQ(read_file(macos + "state.cfg"), "wing=on\n") << "the old bundle stays";

  // With the settings a plain file again, the install goes ahead without the mirror's links.
  ASSERT_EQ(std::system(("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c 'rm \"" + macos +
                         "wing.cfg\" && echo protect=LCL:3 > \"" + macos + "wing.cfg\"'")
                            .c_str()),
            0);
  const AppRun install = as_user("--install", pkexec(), kApp);
  ASSERT_TRUE(install.exited(0)) << install.err;
  EXPECT_EQ(read_file(macos + "wing.cfg"), "protect=LCL:3\n");
  EXPECT_EQ(read_file(macos + "state.cfg"), "wing=on\n");
  EXPECT_FALSE(gmtest::file_exists(macos + "modules/wing-9.9.9.dylib"));
  EXPECT_THAT(home_.app_log(),
              HasSubstr("install: left out wing-9.9.9.dylib from the downloaded modules"));
  for (const char* secret : {"ROOT MODULE SECRET", "ROOT SETTINGS SECRET"}) {
    EXPECT_EQ(files_holding(secret), std::vector<std::string>{}) << secret;
  }
}

TEST_F(AdminRig, ARootChildThatCannotStartIsAFailureNotACancelledPrompt) {
  const std::string broken = home_.path() + "/Broken.app";
  fs::copy(kApp, broken, fs::copy_options::recursive);
  chmod((broken + "/Contents/MacOS/Gainmesh").c_str(), 0644);
  const AppRun run = as_user("--install", pkexec(), kApp, {"GAINMESH_APP=" + broken});
  EXPECT_TRUE(run.exited(1));
  EXPECT_THAT(run.err, HasSubstr("The administrator step failed ("));
  EXPECT_THAT(run.err, HasSubstr("Permission denied"));
  EXPECT_FALSE(gmtest::file_exists(bundle()));
}

}  // namespace
