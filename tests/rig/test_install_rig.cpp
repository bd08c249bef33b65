// Installing with the built Gainmesh executable into an IO Modules folder that holds Waves' three
// card bundles: an install killed at any step leaves a bundle the next install completes, and the
// installed loader runs the signed wing module inside LV1 until the command line switches it off.
// The administrator step runs the app as an ordinary user against a root-owned folder, with a
// setuid stand-in for pkexec running the real root child.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "core_state.h"
#include "drive/card_bundles.h"
#include "drive/child.h"
#include "lv1.h"
#include "module_update.h"
#include "status.h"
#include "support/eventually.h"
#include "support/installed_bundle.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"
#include "support/wingsim_process.h"
#include "util.h"

namespace {

namespace fs = std::filesystem;
using gmtest::read_file;

constexpr const char* kApp = GM_BUILD_DIR "/Gainmesh.app";
constexpr const char* kGainmesh = GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh";

struct Outcome {
  int status = -1;  // the wait status
  std::string out, err;
};

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

  // Runs the built executable (or `exe`, a command line to start it) with the home's environment
  // plus `extra`.
  Outcome gainmesh(std::vector<std::string> args, const std::vector<std::string>& extra = {},
                   std::vector<std::string> exe = {kGainmesh}) {
    rig::ChildSpec spec;
    spec.argv = exe;
    spec.argv.insert(spec.argv.end(), args.begin(), args.end());
    for (char** e = environ; *e; ++e) spec.env.emplace_back(*e);
    spec.env.insert(spec.env.end(), extra.begin(), extra.end());
    spec.stdout_path = home_.path() + "/out.txt";
    spec.stderr_path = home_.path() + "/err.txt";
    pid_t pid = rig::spawn_child(spec);
    Outcome r;
    r.status = rig::wait_child(pid, 60000);
    rig::kill_child(pid);
    r.out = read_file(spec.stdout_path);
    r.err = read_file(spec.stderr_path);
    return r;
  }

  std::string bundle() const { return home_.io_modules_dir() + "/Gainmesh.bundle"; }
  std::string loader() const { return read_file(bundle() + "/Contents/MacOS/Gainmesh"); }
};

bool exited(const Outcome& r, int code) {
  return WIFEXITED(r.status) && WEXITSTATUS(r.status) == code;
}

TEST_F(InstallRig, AnInstallKilledAtAnyStepLeavesABundleTheNextInstallCompletes) {
  // An app of our own, so that each round can carry a loader of its own.
  const std::string app = home_.path() + "/Gainmesh.app";
  fs::create_directories(app + "/Contents");
  fs::copy(GM_BUILD_DIR "/Gainmesh.app/Contents/Library", app + "/Contents/Library",
           fs::copy_options::recursive);
  const std::string payload_loader = app + "/Contents/Library/Payload/Gainmesh";
  const std::vector<std::string> env = {"GAINMESH_APP=" + app};
  ASSERT_TRUE(exited(gainmesh({"--install"}, env), 0));
  home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/state.cfg", "wing=on\nx32=off\n");
  const std::string state = bundle() + "/Contents/MacOS/state.cfg";

  for (const char* step : {"resources", "loader", "modules", "settings", "swap", "done"}) {
    const std::string old_loader = loader();
    home_.write("Gainmesh.app/Contents/Library/Payload/Gainmesh", old_loader + step);
    std::vector<std::string> kill = env;
    kill.push_back(std::string("GAINMESH_TEST_KILL_AT=") + step);
    lv1_closed();
    const Outcome killed = gainmesh({"--install"}, kill);
    ASSERT_TRUE(WIFSIGNALED(killed.status) && WTERMSIG(killed.status) == SIGKILL)
        << step << ": " << killed.err;
    // Killed between the two renames, the old bundle waits beside under ".old".
    const std::string now =
        loader().empty() ? read_file(bundle() + ".old/Contents/MacOS/Gainmesh") : loader();
    EXPECT_TRUE(now == old_loader || now == read_file(payload_loader)) << step;
    lv1_closed();
    const Outcome again = gainmesh({"--install"}, env);
    EXPECT_TRUE(exited(again, 0)) << step << ": " << again.err;
    EXPECT_EQ(again.out, "installed\n");
    EXPECT_EQ(loader(), read_file(payload_loader)) << step;
    EXPECT_EQ(read_file(state), "wing=on\nx32=off\n") << step << ": the settings survive";
    EXPECT_FALSE(gmtest::file_exists(bundle() + ".new") || gmtest::file_exists(bundle() + ".old"));
  }
}

TEST_F(InstallRig, TheInstalledLoaderRunsTheModuleUntilTheCommandLineSwitchesItOff) {
  const auto waves = rig::tree_snapshot(home_.io_modules_dir());
  const Outcome install = gainmesh({"--install"});
  ASSERT_TRUE(exited(install, 0)) << install.err;
  EXPECT_EQ(install.out, "installed\n");
  gmtest::WingSimProcess::Options desk;
  desk.ip = gmtest::unique_loopback();
  gmtest::WingSimProcess wingsim(desk);
  ASSERT_TRUE(gm::cfg_set_line(gm::con_cfg(0), "ip", desk.ip));

  start_lv1_with_loader();
  const auto running = [] {
    GmLoaderStatus block{};
    if (!gm::read_loader_status(&block, gm::live_blocks(gm::lv1_info()))) return std::string("-");
    return std::string(block.consoles[0].running_version);
  };
  ASSERT_TRUE(gmtest::wait_for([&] { return running() == "3.2.0"; }, 10000)) << running();
  EXPECT_TRUE(gmtest::wait_for(
      [] { return gm::read_con_status(0, gm::live_blocks(gm::lv1_info())).connected == 1; }, 10000))
      << "the module reaches the desk at " << desk.ip;

  const Outcome off = gainmesh({"--switch", "wing", "off"});
  EXPECT_TRUE(exited(off, 0)) << off.err;
  EXPECT_EQ(off.out, "confirm: switch the wing off (LV1 is running) - confirmed\nwing off\n");
  EXPECT_TRUE(gmtest::wait_for([&] { return running().empty(); }, 10000)) << "the loader let go";
  auto after = rig::tree_snapshot(home_.io_modules_dir());
  std::erase_if(after, [](const auto& f) { return f.first.rfind("Gainmesh.bundle", 0) == 0; });
  EXPECT_EQ(after, waves) << "Waves' bundles are left as they were";
}

// A newer console module that the app carries goes live in the running LV1 without a restart; one
// whose signature does not verify is refused by the loader, which keeps the module it runs, and
// the refusal reaches the setup message.
TEST_F(InstallRig, ACarriedModuleGoesLiveWhileLv1RunsAndABadlySignedOneIsRefused) {
  ASSERT_TRUE(exited(gainmesh({"--install"}), 0));
  start_lv1_with_loader();
  const auto wing = [] {
    GmLoaderStatus block{};
    gm::read_loader_status(&block, gm::live_blocks(gm::lv1_info()));
    return block.consoles[0];
  };
  ASSERT_TRUE(
      gmtest::wait_for([&] { return std::string(wing().running_version) == "3.2.0"; }, 10000));
  const pid_t lv1 = lv1_->pid();

  // Carried through the per-user mirror, as the updater leaves verified modules there.
  const std::string mirror = gm::mirror_modules_dir();
  ASSERT_TRUE(gm::make_dirs(mirror));
  const std::string built = GM_WING_DYLIB;
  fs::copy_file(built, mirror + "/wing-3.3.0.dylib");
  gmtest::sign_file(mirror + "/wing-3.3.0.dylib", mirror + "/wing-3.3.0.dylib.sig");
  std::string err;
  ASSERT_TRUE(gm::apply_live_module_updates(err)) << err;
  EXPECT_TRUE(
      gmtest::wait_for([&] { return std::string(wing().running_version) == "3.3.0"; }, 1500))
      << "live within a second of the notification";
  EXPECT_EQ(lv1_->pid(), lv1) << "LV1 was not restarted";

  fs::copy_file(built, mirror + "/wing-3.4.0.dylib");
  fs::copy_file(mirror + "/wing-3.3.0.dylib.sig", mirror + "/wing-3.4.0.dylib.sig");
  std::string text = read_file(mirror + "/wing-3.4.0.dylib");
  text.back() = static_cast<char>(text.back() ^ 1);  // the signature is over the other bytes
  ASSERT_TRUE(gm::write_text(mirror + "/wing-3.4.0.dylib", text));
  const uint32_t refusals = wing().load_error;
  gm::check_blocks();
  gm::set_msg("");
  ASSERT_TRUE(gm::apply_live_module_updates(err)) << err;
  ASSERT_TRUE(gmtest::wait_for([&] { return wing().load_error != refusals; }, 10000));
  EXPECT_EQ(std::string(wing().running_version), "3.3.0") << "the previous module keeps running";
  gm::check_blocks();
  EXPECT_EQ(gm::current_msg().rfind("The WING module ", 0), 0u) << gm::current_msg();
  EXPECT_NE(gm::current_msg().find("would not load"), std::string::npos);
  EXPECT_NE(gm::current_msg().find("Gainmesh keeps running the version it had."),
            std::string::npos);
}

TEST_F(InstallRig, RemovalWaitsForLv1ToQuitAndLeavesWavesBundlesAsTheyWere) {
  const auto waves = rig::tree_snapshot(home_.io_modules_dir());
  ASSERT_TRUE(exited(gainmesh({"--install"}), 0));
  start_lv1_with_loader();
  EXPECT_EQ(gainmesh({"--remove"}).err, "Close eMotion LV1 first.\n");
  ASSERT_EQ(lv1_->quit(), 0);
  EXPECT_EQ(gainmesh({"--remove"}).out, "removed\n");
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
  Outcome as_user(const std::vector<std::string>& args, const std::string& elevate,
                  const std::string& app) {
    return gainmesh(args, {"GAINMESH_TEST_ELEVATE=" + elevate},
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                     app + "/Contents/MacOS/Gainmesh"});
  }
};

TEST_F(AdminRig, TheRootChildInstallsForTheUserFromAnAppPathWithQuotesAndRemoves) {
  const auto waves = rig::tree_snapshot(home_.io_modules_dir());
  const std::string app = home_.path() + "/it's \"ours\".app";
  fs::copy(kApp, app, fs::copy_options::recursive);
  const Outcome dismissed = as_user({"--install"}, home_.path() + "/dismissed", app);
  EXPECT_NE(dismissed.err.find("No administrator password was given, so nothing was changed."),
            std::string::npos);
  const Outcome install = as_user({"--install"}, home_.path() + "/pkexec", app);
  ASSERT_TRUE(exited(install, 0)) << install.err;
  struct stat st {};
  stat((bundle() + "/Contents/MacOS/state.cfg").c_str(), &st);
  EXPECT_EQ(st.st_uid, 65534u) << "handed to the user";
  // The AppleScript text as logged: the path's quotes survived both quotings.
  EXPECT_NE(read_file(home_.logs_dir() + "/gainmesh-app.log")
                .find(R"(/it'\\''s \"ours\".app' ')" + home_.path() +
                      R"(' 65534 65534 -1" with prompt "Gainmesh needs)"),
            std::string::npos);
  EXPECT_EQ(as_user({"--remove"}, home_.path() + "/pkexec", app).out, "removed\n");
  EXPECT_EQ(rig::tree_snapshot(home_.io_modules_dir()), waves);
}

}  // namespace
