// The app core's view of a running LV1: the LV1 stand-in, installed under the temporary home
// with its bundle, runs the built loader and wing module beside a virtual desk; the core finds LV1,
// sees which status blocks it holds open, reads them and sends the module a resync request.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api.h"
#include "core_state.h"
#include "install_files.h"
#include "install_texts.h"
#include "lv1.h"
#include "lv1db.h"
#include "status.h"
#include "support/app_run.h"
#include "support/control_socket.h"
#include "support/json_check.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"
#include "support/status_file.h"
#include "support/update_server.h"
#include "support/wingsim_process.h"
#include "updater.h"
#include "updater_times.h"
#include "util.h"

namespace {

using gmtest::InstalledBundle;
using gmtest::Lv1HostProcess;
using gmtest::took;
using ::testing::HasSubstr;

constexpr int kWait = 10000;
constexpr int kOtherLv1WaitMs = 60000;
constexpr const char* kStarted = "---- wing module 3.2.0 started by the loader ----";

class CoreLiveStatus : public gmtest::Lv1RigTest {
 protected:
  void SetUp() override {
    // LV1 is the first process of that name in the table, so ours must start while no other
    // (of another test on this machine) runs; later ones come after it.
    if (!gmtest::wait_for([] { return !gm::lv1_running(); }, kOtherLv1WaitMs)) {
      GTEST_SKIP() << "another eMotion LV1 kept running on this machine";
    }
    app_ = home_.path() + gm::kLv1AppPath;
    std::filesystem::create_directories(app_);
    std::filesystem::copy(GM_BUILD_DIR "/sim/eMotion LV1.app", app_,
                          std::filesystem::copy_options::recursive);
    const std::string ip = gmtest::unique_loopback();
    desk_ = std::make_unique<gmtest::WingSimProcess>(ip);
    bundle_ = std::make_unique<InstalledBundle>(home_, InstalledBundle::Options{.wing_ip = ip});
    gm::lv1_forget_bundle();
  }

  // Starts LV1 from its installed bundle and waits until the wing module runs.
  Lv1HostProcess& start() {
    Lv1HostProcess::Options o;
    o.executable = app_ + "/Contents/MacOS/eMotion LV1";
    o.leak_check = false;  // the loader unloads modules with dlclose
    start_lv1(o);
    EXPECT_TRUE(wait_log(kStarted)) << bundle_->log_text();
    return *lv1_;
  }

  gm::Live live() const { return gm::live_blocks(gm::lv1_info()); }

  // The built executable's output with this option, in this test's home (where broadcasts are
  // off).
  static std::string gainmesh(const char* option) {
    const gmtest::AppRun r = gmtest::run_app(option);
    return r.exited(0) ? r.out : r.out + "(failed)";
  }

  // The WING's card of a page document: its status, message, name and the line under the name.
  static std::string wing_card(const std::string& page) {
    return gmtest::python_on_json(page,
                                  "c = doc['cards'][0]\n"
                                  "for k in ('status', 'msg', 'name', 'meta'): print(c[k])\n");
  }
  std::string app_dir() const { return home_.path() + "/Applications/Gainmesh.app"; }
  bool connected() const { return gm::read_con_status(0, live()).connected == 1; }
  std::string wing_cfg(const char* key) const {
    return gm::cfg_value(bundle_->wing_cfg_path(), key);
  }

  std::string app_;
  std::unique_ptr<gmtest::WingSimProcess> desk_;
};

TEST_F(CoreLiveStatus, FindsLv1AndReadsOnlyTheBlocksItHoldsOpen) {
  const std::time_t started = std::time(nullptr);
  Lv1HostProcess& lv1 = start();
  const gm::Lv1 info = gm::lv1_info();
  EXPECT_EQ(info.pid, static_cast<uint32_t>(lv1.pid()));
  EXPECT_EQ(info.app, app_) << "installed below the home";
  EXPECT_EQ(info.version, "14.0.1");
  EXPECT_TRUE(info.start_s >= started - 1 && info.start_s <= std::time(nullptr));
  EXPECT_TRUE(info.up_ms >= 0 && info.up_ms <= (std::time(nullptr) - started + 2) * 1000);

  const gm::Live l = gm::live_blocks(info);
  EXPECT_TRUE(l.loader && l.con[0]);
  GmLoaderStatus loader;
  ASSERT_TRUE(gm::read_loader_status(&loader, l));
  EXPECT_STREQ(loader.consoles[0].running_version, "3.2.0");
  EXPECT_TRUE(gmtest::wait_for([&] { return gm::read_con_status(0, l).connected == 1; }, kWait));
  EXPECT_STREQ(gm::read_con_status(0, l).desk_ip, desk_->ip().c_str());

  // A block left by an earlier LV1 run: LV1 does not hold the file, so it does not count.
  std::filesystem::copy_file(gm::con_file(0), gm::con_file(1));
  EXPECT_FALSE(live().con[1]);
  EXPECT_FALSE(gm::read_con_status(1, live()).valid);
  const std::string stale = gmtest::read_file(gm::con_file(1));
  gm::con_request_resync(1, true);
  EXPECT_EQ(gmtest::read_file(gm::con_file(1)), stale) << "no request for a module not running";

  // The module stops: its block, read as if still held, says so and is not valid.
  bundle_->write_state("wing=off\n");
  bundle_->notify();
  ASSERT_TRUE(gmtest::wait_for(
      [&] { return bundle_->loader_status().consoles[0].running_version[0] == '\0'; }, kWait));
  EXPECT_FALSE(gm::read_con_status(0, l).valid);

  EXPECT_EQ(lv1.quit(), 0);
  const gm::Lv1 after = gm::lv1_info();
  EXPECT_EQ(after.pid, 0u);
  EXPECT_EQ(after.up_ms, -1);
  EXPECT_EQ(after.app, app_);
  EXPECT_FALSE(live().loader);
}

TEST_F(CoreLiveStatus, ASetResyncReachesTheRunningModule) {
  start();
  gmtest::StatusFile block(home_.run_dir());
  ASSERT_TRUE(block.ok());
  // The module publishes its settings on its first cycle.
  ASSERT_TRUE(gmtest::wait_for([&] { return block->bank[0] != '\0'; }, kWait));
  const bool lv1_wins = block->resync == 0;  // ask for the other direction
  const std::string bank = block->bank;
  const uint32_t base = block->base, watch = block->watch;

  gm_set_resync(0, lv1_wins ? 1 : 0);
  const std::string applied = "[shm] config applied from tray: bank=" + bank +
                              " base=" + std::to_string(base) + " watch=" + std::to_string(watch) +
                              " resync=" + (lv1_wins ? "lv1" : "desk");
  EXPECT_TRUE(wait_log(applied)) << bundle_->log_text();
  EXPECT_TRUE(gmtest::wait_for([&] { return block->resync == (lv1_wins ? 1u : 0u); }, kWait));
  EXPECT_THAT(gmtest::read_file(bundle_->wing_cfg_path()),
              HasSubstr(lv1_wins ? "resync=lv1" : "resync=desk"));
}

// LV1's session takes the WING card from another LV1: the guest watch stores it at once and the
// loader lets go of the console; owned again, it is stored only once it has stayed so for 3 s.
// LV1 keeps its session database open meanwhile, as the app reads it.
TEST_F(CoreLiveStatus, AWingCardSharedFromAnotherLv1IsHandedOffAndTakenBackAfterThreeSeconds) {
  Lv1HostProcess& lv1 = start();
  const auto stored = [] { return gm::cfg_value(gm::state_cfg(), "wing.guest"); };
  const auto running = [&] {
    return std::string(bundle_->loader_status().consoles[0].running_version);
  };
  gm::start_guest_watch();

  ASSERT_TRUE(took(lv1, "share wing 9f3a1c00-5e21-4b7d"));
  EXPECT_TRUE(gmtest::wait_for([&] { return stored() == "1"; }, kWait));
  // The line is logged once the state file is written (and its folder flushed).
  const auto logged = [&](const char* line) {
    return gmtest::wait_for(
        [&] { return home_.app_log().find(line) != std::string::npos; }, kWait);
  };
  EXPECT_TRUE(logged("guest: wing is shared to this LV1 from another one - Gainmesh hands-off"));
  EXPECT_TRUE(gmtest::wait_for([&] { return running().empty(); }, kWait)) << "the loader let go";
  EXPECT_TRUE(gmtest::holds_open(lv1.pid(), gm::lv1_db_path()));

  lv1.cmd("own wing");
  const auto owned = std::chrono::steady_clock::now();
  EXPECT_TRUE(gmtest::wait_for([&] { return stored() == "0"; }, kWait));
  EXPECT_GE(std::chrono::steady_clock::now() - owned, std::chrono::milliseconds(2950));
  EXPECT_TRUE(logged("guest: wing is this LV1's own - Gainmesh may drive it"));
  EXPECT_TRUE(gmtest::wait_for([&] { return running() == "3.2.0"; }, kWait));
  std::lock_guard<std::mutex> lock(gm::core_mutex());
  EXPECT_FALSE(gm::core_state().guest[0]);
}

// With the WING connected: the scan reports the desk the module drives from its status block,
// without asking the desk, and leaves its address as the module's hint; the report names the
// running LV1, the installed bundle and that desk (what the support file holds: Diagnostics in
// test_support, and the demo); the page document names the desk, and once it stops answering the
// app's card says for how long.
TEST_F(CoreLiveStatus, TheConnectedWingIsScannedReportedShownAndThenLost) {
  ASSERT_TRUE(gm::write_text(bundle_->bundle() + "/Contents/Info.plist", gm::bundle_info_plist()));
  const std::string lv1 = "LV1          : 14.0.1, running (pid " + std::to_string(start().pid());
  ASSERT_TRUE(gmtest::wait_for([&] { return connected(); }, kWait)) << bundle_->log_text();
  const std::string desk = gm::read_con_status(0, live()).identity;
  const std::vector<std::string> asked = desk_->cmd("discovery");
  ASSERT_TRUE(desk_->ok() && asked.size() == 1) << desk_->error();
  EXPECT_EQ(gainmesh("--scan"), desk + "\n-\n");
  EXPECT_EQ(desk_->cmd("discovery"), asked) << "the scan asked the desk";
  EXPECT_THAT(gmtest::read_file(bundle_->wing_cfg_path()),
              HasSubstr("\nhint=" + desk_->ip() + "\n"));

  const std::string diag = gainmesh("--diag");
  for (const std::string& line : {lv1, ": " + bundle_->bundle() + ", version 3.2.0\n",
                                  "\nwing module status block\n  version 17, desk " + desk + " (" +
                                      desk_->ip() + ")\n  connected 1,"}) {
    EXPECT_THAT(diag, HasSubstr(line));
  }

  const std::string card = wing_card(gainmesh("--status"));
  EXPECT_EQ(card.rfind("Connected\n", 0), 0u) << card;
  EXPECT_THAT(card,
              HasSubstr("\nWING Rack\nWSG card \xC2\xB7 " + desk_->ip() + " \xC2\xB7 fw 3.1-0\n"));
  gm_snapshot();  // the app saw it connected
  desk_.reset();
  ASSERT_TRUE(gmtest::wait_for([&] { return !connected(); }, kWait));
  std::string lost;
  EXPECT_TRUE(gmtest::wait_for(
      [&] { return (lost = wing_card(gm_snapshot())).rfind("Lost contact\n", 0) == 0; }, kWait))
      << lost;
  int seconds = 0;
  EXPECT_EQ(sscanf(lost.c_str(), "Lost contact\nNo answer for %d s. Gain and 48V", &seconds), 1)
      << lost;
  EXPECT_TRUE(seconds >= 5 && seconds < 10) << lost;
}

// An address typed in Setup while nothing answers at the configured one: the module asks it, and
// the console answering there becomes the chosen one.
TEST_F(CoreLiveStatus, ATypedAddressIsAskedAndTheConsoleAnsweringThereIsChosen) {
  ASSERT_TRUE(gm::cfg_set_line(bundle_->wing_cfg_path(), "ip", gmtest::unique_loopback()));
  start();
  char buf[256];
  ASSERT_TRUE(gm_set_ip(0, desk_->ip().c_str(), buf, sizeof buf)) << buf;
  EXPECT_EQ(wing_cfg("ip"), desk_->ip());
  ASSERT_TRUE(gmtest::wait_for([&] { return connected(); }, kWait)) << bundle_->log_text();
  EXPECT_STREQ(gm::read_con_status(0, live()).desk_ip, desk_->ip().c_str());

  gm_snapshot();
  const std::string id = gm::read_con_status(0, live()).answer_id;
  EXPECT_FALSE(id.empty());
  EXPECT_EQ(wing_cfg("console"), id) << "pinned by the snapshot after it answered";

  ASSERT_TRUE(gm_set_ip(0, "127.0.0.1", buf, sizeof buf));
  EXPECT_EQ(gm::current_msg(),
            "Saved. Gainmesh uses 127.0.0.1 the next time it looks for the console \xE2\x80\x94 "
            "after a dropout, or when LV1 starts.");
}

// Another console answers at the typed address: choosing it pins it, and the module connects.
TEST_F(CoreLiveStatus, PickingTheConsoleThatAnswersAtTheTypedAddressConnectsToIt) {
  gmtest::WingSimProcess::Options o;
  o.ip = gmtest::unique_loopback();
  o.name = "Monitors";
  o.serial = "S0002";
  gmtest::WingSimProcess other(o);
  ASSERT_TRUE(gm::cfg_set_line(bundle_->wing_cfg_path(), "ip", other.ip()));
  ASSERT_TRUE(gm::cfg_set_line(bundle_->wing_cfg_path(), "console", "S0001"));
  start();
  gm::ConStatus st{};
  ASSERT_TRUE(gmtest::wait_for(
      [&] { return (st = gm::read_con_status(0, live())).find_state == 3 && st.answer_id[0]; },
      kWait))
      << bundle_->log_text();
  EXPECT_EQ(st.connected, 0u);

  gm_pick(0, st.answer_id);
  EXPECT_EQ(gm::current_msg(), "This LV1 uses Monitors (" + other.ip() +
                                   "). Gainmesh connects to it within a few seconds.");
  EXPECT_EQ(wing_cfg("console"), st.answer_id);
  EXPECT_TRUE(gmtest::wait_for([&] { return connected(); }, kWait)) << bundle_->log_text();
  EXPECT_STREQ(gm::read_con_status(0, live()).desk_ip, other.ip().c_str());
}

// A release on the rig's update server: its newer wing module goes live inside the running LV1;
// its newer loader and app wait until LV1 has quit, then the app restarts into the new copy,
// which waits for the old instance to end and removes the old copy.
TEST_F(CoreLiveStatus, AReleaseGoesLiveInLv1AndItsLoaderAndAppWaitUntilLv1Quits) {
  namespace fs = std::filesystem;
  Lv1HostProcess& lv1 = start();
  const int lv1_pid = lv1.pid();
  gm::write_text(bundle_->bundle() + "/Contents/Info.plist", gm::bundle_info_plist());
  gmtest::UpdateServerProcess server;
  server.point_app_here();
  const auto running = [&] {
    return std::string(bundle_->loader_status().consoles[0].running_version);
  };
  ASSERT_EQ(
      server.release({"--version", "3.3.0", "--module", "wing", "3.3.0", gmtest::kPayloadModule}),
      0);
  gm::check();  // announced: live within about a second
  EXPECT_TRUE(gmtest::wait_for([&] { return running() == "3.3.0"; }, 3000)) << running();
  EXPECT_EQ(gm::lv1_info().pid, static_cast<uint32_t>(lv1_pid)) << "LV1 kept running";

  // The new app: the built executable and its Info.plist; the running one: a copy to replace.
  const std::string src = home_.path() + "/src/Gainmesh.app/Contents", app = app_dir();
  fs::create_directories(src + "/MacOS");
  fs::copy_file(GM_BUILD_DIR "/Gainmesh.app/Contents/Info.plist", src + "/Info.plist");
  fs::copy_file(GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh", src + "/MacOS/Gainmesh");
  home_.write("Applications/Gainmesh.app/Contents/MacOS/Gainmesh", "the running copy");
  const std::string loader = home_.write("src/loader", "the loader of 3.4.0");
  ASSERT_EQ(server.release({"--version", "3.4.0", "--loader", "3.4.0", loader, "--app", "3.4.0",
                            home_.path() + "/src/Gainmesh.app"}),
            0);
  gm::check();
  ASSERT_TRUE(gm::updater_staged());
  gm::set_app_path(app);
  gm::UpdaterTimes times;
  bool quit = false;
  for (int64_t now : {1000, 2000}) gm::updater_tick_at(times, now, quit);
  EXPECT_FALSE(quit ||
               gmtest::read_file(bundle_->macos_dir() + "/Gainmesh") == "the loader of 3.4.0")
      << "nothing applied while LV1 runs";

  EXPECT_EQ(lv1.quit(), 0);
  // The old instance: a child that applies the stage on its tick, starts the new copy and ends
  // 1.5 s later.
  const pid_t old = fork();
  if (old == 0) {
    bool q = false;
    gm::updater_tick_at(times, 3000, q);
    usleep(1500000);
    _exit(q ? 0 : 1);
  }
  const std::string banner = " for macOS (" + app + ") ----";
  EXPECT_TRUE(
      gmtest::wait_for([&] { return home_.app_log().find(banner) != std::string::npos; }, kWait))
      << home_.app_log();
  EXPECT_TRUE(gmtest::file_exists(app + ".old")) << "kept while the old instance runs";
  int status = -1;
  ASSERT_EQ(waitpid(old, &status, 0), old);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the tick asked it to quit";
  EXPECT_TRUE(gmtest::wait_for([&] { return !gmtest::file_exists(app + ".old"); }, kWait));
  EXPECT_THAT(home_.app_log(),
              HasSubstr("  update: Gainmesh 3.4.0 applied - restarting into it\n"));
  EXPECT_THAT(home_.app_log(), HasSubstr("update: now running 3.2.0"));
  EXPECT_EQ(gmtest::read_file(bundle_->macos_dir() + "/Gainmesh"), "the loader of 3.4.0");
  EXPECT_EQ(gm::names_in(gm::updates_root()), std::vector<std::string>{})
      << "the stage and the scratch folder are gone";
}

TEST_F(CoreLiveStatus, StartLv1OpensTheInstalledBundle) {
  gm_start_lv1();
  EXPECT_EQ(gm::current_msg(), "Starting eMotion LV1\xE2\x80\xA6");
  EXPECT_TRUE(gmtest::wait_for([] { return gm::lv1_running(); }, kWait));
  const gm::Lv1 info = gm::lv1_info();
  EXPECT_EQ(info.app, app_);
  if (info.pid > 0) kill(static_cast<pid_t>(info.pid), SIGTERM);
  EXPECT_TRUE(gmtest::wait_for([] { return !gm::lv1_running(); }, kWait));

  std::filesystem::remove_all(app_);
  gm::lv1_forget_bundle();
  gm_start_lv1();
  EXPECT_EQ(gm::current_msg(), "Could not find eMotion LV1 on this Mac.");
}

}  // namespace
