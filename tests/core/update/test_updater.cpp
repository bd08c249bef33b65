// The updater in a temporary home: signed module folders and pruning, applying a stage (modules,
// the loader, app archives that would write outside), the tick's timetable, and the check against
// the rig's HTTPS update server with releases from gm-release. The tick that restarts into a new
// app runs with LV1 on the rig (test_core_live_status). Files are signed with gm-sign and the
// TEST-ONLY key.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <stdexcept>

#include "install_files.h"
#include "install_texts.h"
#include "lv1.h"
#include "platform.h"
#include "status.h"
#include "support/eventually.h"
#include "support/installed_bundle.h"
#include "support/loopback.h"
#include "support/update_server.h"
#include "updater.h"
#include "updater_times.h"
#include "util.h"

namespace {

using gmtest::file_exists;
using gmtest::read_file;
using Names = std::vector<std::string>;

class Updater : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    home_.write("Gainmesh.app/Contents/MacOS/Gainmesh", "old");
    gm::set_app_path(app_);
    gm::updater_set_staged(true);
  }
  // Writes a file below the home with its signature, or with 64 bytes that are none.
  void put(const std::string& rel, const std::string& bytes, bool good = true) {
    const std::string path = home_.write(rel, bytes);
    good ? gmtest::sign_file(path, path + ".sig")
         : void(home_.write(rel + ".sig", std::string(64, 's')));
  }
  void stage(const std::string& name, const std::string& bytes, bool good = true,
             const std::string& version = "3.3.0") {
    put(kStage + name, bytes, good);
    home_.write(kStage + "ready", version);
  }
  // Applies under the bundle lock, as the app does.
  bool apply(bool& r) { return std::lock_guard(gm::bundle_mutex()), gm::apply_staged(r); }
  int count(const std::string& text) const {
    const std::string log = home_.app_log();
    int n = 0;
    for (size_t i = log.find(text); i != std::string::npos; i = log.find(text, i + 1)) ++n;
    return n;
  }
  std::string at(const std::string& rel) const { return home_.path() + "/" + rel; }
  // Sample app archives: app.zip holds a Gainmesh.app whose executable writes its arguments to
  // "started" in the home; the others add an entry that leads out of the folder.
  static std::string archive(const std::string& name) {
    return read_file(GM_SOURCE_DIR "/tests/fuzz/seeds/fuzz_unpack_zip/" + name + ".zip");
  }

  const gmtest::InstalledBundle::Options installed_{.wing_ip = "127.0.0.1"};
  const std::string kStage = "Library/Application Support/Gainmesh/updates/staged/",
                    kMirror = "Library/Application Support/Gainmesh/modules/",
                    app_ = at("Gainmesh.app");
};

TEST_F(Updater, SignedModulesCountNewestFirstAndPruningSparesTheTwoNewestAndTheRunningOne) {
  const auto names = [&] {
    Names out;
    for (const auto& m : gm::signed_modules(at("m"), "wing"))
      out.push_back(m.second.substr(at("m").size()));
    return out;
  };
  for (const char* v : {"wing-3.2.0", "wing-3.10.0", "wing-3.3.0-rc1", "wing-3.5", "wingx-3.7.0"})
    put(std::string("m/") + v + ".dylib", v);
  put("m/wing-3.4.0.dylib", "wrong signature", false);
  home_.write("m/wing-3.6.0.dylib", "no signature");
  const Names all = {"/wing-3.10.0.dylib", "/wing-3.3.0-rc1.dylib", "/wing-3.2.0.dylib"};
  EXPECT_EQ(names(), all);

  // A process named as LV1 holds the loader's block open, which says that wing 3.2.0 runs: the
  // oldest stays (without it, the check's pruning below deletes it).
  const GmLoaderConsole wing{"wing", 0, 0, 0, 0, "3.2.0", 0, 0, ""};
  const GmLoaderStatus block{GM_LOADER_MAGIC, GM_LOADER_READ_BYTES, "", {wing, {}}, {}, {}};
  const std::string file = home_.write("Library/Application Support/Gainmesh/run/" GM_LOADER_FILE,
                                       std::string(reinterpret_cast<const char*>(&block), 304));
  const pid_t lv1 = fork();
  if (lv1 == 0)
    _exit(prctl(PR_SET_NAME, gm::kLv1ProcessName) || open(file.c_str(), 0) < 0 || pause());
  const bool seen = gmtest::eventually(
      [&] { return gm::lv1_pid() == uint32_t(lv1) && gm::live_blocks(gm::lv1_info()).loader; });
  if (seen) gm::prune_modules(at("m"), "wing");
  kill(lv1, SIGKILL);
  waitpid(lv1, nullptr, 0);
  if (!seen) GTEST_SKIP() << "another eMotion LV1 runs on this machine";
  EXPECT_EQ(names(), all);
}

TEST_F(Updater, StagedModulesAndLoaderGoWhereGainmeshIsAndABadLoaderSignatureDiscardsTheStage) {
  bool restart = true;
  stage("modules/wing-3.3.0.dylib", "module");
  stage("modules/wing-3.4.0.dylib", "tampered", false);
  stage("Gainmesh.dylib", "loader");
  ASSERT_TRUE(apply(restart));
  EXPECT_FALSE(restart || gm::updater_staged() || file_exists(at(kStage)));
  EXPECT_EQ(count("  update: loader 3.3.0 skipped (Gainmesh is not installed)\n"), 1);
  EXPECT_EQ(count("  update: Gainmesh 3.3.0 applied\n"), 1);
  EXPECT_EQ(read_file(at(kMirror + "wing-3.3.0.dylib")), "module");
  EXPECT_FALSE(file_exists(at(kMirror + "wing-3.4.0.dylib"))) << "fails verification";

  const gmtest::InstalledBundle b(home_, installed_);
  const std::string loader = b.macos_dir() + "/Gainmesh";
  home_.write("IO Modules/Gainmesh.bundle/Contents/Info.plist", gm::bundle_info_plist());
  stage("modules/wing-3.3.0.dylib", "module");
  stage("Gainmesh.dylib", "loader", true, "3.3.0 <b>&");  // markup stays text in Info.plist
  ASSERT_TRUE(apply(restart));
  EXPECT_EQ(count("  update: loader 3.3.0 <b>& installed into Gainmesh.bundle\n"), 1);
  EXPECT_EQ(read_file(b.modules_dir() + "/wing-3.3.0.dylib"), "module");
  EXPECT_TRUE(read_file(loader) == "loader" && gm::pair_ok(loader) &&
              !access(loader.c_str(), X_OK));
  std::map<std::string, std::string> info;
  ASSERT_TRUE(gm::read_bundle_info(b.bundle(), &info));
  EXPECT_EQ(info["CFBundleShortVersionString"] + info["CFBundleVersion"], "3.3.0 <b>&3.3.0 <b>&");

  stage("Gainmesh.dylib", "bad loader", false);
  EXPECT_FALSE(apply(restart));
  EXPECT_EQ(count("  update: staged loader fails verification - discarded\n"), 1);
  EXPECT_FALSE(gm::updater_staged() || file_exists(at(kStage)) || read_file(loader) != "loader");
}

TEST_F(Updater, AnArchiveThatWouldWriteOutsideIsRefusedAndTheRunningAppKept) {
  bool restart = false;
  for (const char* name : {"dotdot", "absolute", "link-out"}) {
    stage("Gainmesh.app.zip", archive(name));
    EXPECT_FALSE(apply(restart) || restart) << name;
  }
  EXPECT_EQ(count("  update: app not replaced: could not unpack the app - keeping this one\n"), 3);
  EXPECT_EQ(gm::names_in(gm::updates_root()), Names{"staged"}) << "nothing beside the scratch";
  EXPECT_FALSE(file_exists("/tmp/gm-updater-absolute-evil") || file_exists(app_ + ".old"));
  EXPECT_TRUE(file_exists(at(kStage + "ready"))) << "kept for the next attempt";
  gm::updater_set_staged(false);
  gm::check();  // fails: nothing listens where the temporary home points it
  EXPECT_TRUE(gm::updater_staged()) << "what was staged before still waits";

  gm::set_app_path(at("build"));
  stage("Gainmesh.app.zip", archive("app"));
  EXPECT_FALSE(apply(restart));
  EXPECT_EQ(count("this copy is not inside Gainmesh.app - keeping this one\n"), 1);
}

// A loopback port that takes a connection and answers nothing until it is let go, so that a
// check stays running for as long as a test needs it to.
class SilentPort {
 public:
  SilentPort() : fd_(gmtest::bound_socket("127.0.0.1", 0, SOCK_STREAM)) {
    if (fd_ < 0 || listen(fd_, 4) != 0) throw std::runtime_error("no loopback port to listen on");
    port_ = ntohs(gmtest::local_address(fd_).sin_port);
  }
  ~SilentPort() {
    let_go();
    close(fd_);
  }
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }
  // The next connection, waited for up to 10 s and then held open.
  bool take() {
    pollfd p{fd_, POLLIN, 0};
    held_ = poll(&p, 1, 10000) == 1 ? accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    return held_ >= 0;
  }
  void let_go() {
    if (held_ >= 0) close(held_);
    held_ = -1;
  }

 private:
  int fd_, held_ = -1;
  int port_ = 0;
};

// The timetable on the test's clock: the first check 30 s after the first tick, then every 6 h;
// a waiting stage is applied at the first tick, then at most every 10 min, and never while a
// check runs. A version of 64 bytes, the most a stage holds, is applied like any other.
TEST_F(Updater, ChecksAndApplyAttemptsKeepTheirTimetable) {
  if (gm::lv1_running()) GTEST_SKIP() << "another eMotion LV1 runs on this machine";
  SilentPort port;
  setenv("GAINMESH_TEST_UPDATE_URL", port.url().c_str(), 1);  // the home restores it
  const std::string longest(64, '7');
  const auto applied = [&](const std::string& v) {
    return count("  update: Gainmesh " + v + " applied\n");
  };
  const auto restage = [&] {
    home_.write(kStage + "ready", "3.3.0");
    gm::updater_set_staged(true);
  };
  const auto check_ends = [&] {
    port.let_go();
    return gmtest::eventually([] { return !gm::updater_busy(); }, std::chrono::seconds(10));
  };
  gm::UpdaterTimes times;
  bool quit = false;
  const auto tick = [&](int64_t at) { gm::updater_tick_at(times, 1000 + at, quit); };
  home_.write(kStage + "ready", longest + "-and-more");
  gm::updater_set_staged(false);
  tick(0);
  EXPECT_EQ(applied(longest), 1);
  restage();
  tick(29999);
  EXPECT_FALSE(gm::updater_busy()) << "no check before 30 s";
  tick(30000);
  ASSERT_TRUE(gm::updater_busy() && port.take());
  tick(600000);
  EXPECT_EQ(applied("3.3.0"), 0) << "not while a check runs";
  ASSERT_TRUE(check_ends());
  tick(600000);
  EXPECT_EQ(applied("3.3.0"), 1);
  restage();
  tick(1199999);
  EXPECT_EQ(applied("3.3.0"), 1) << "10 minutes apart";
  tick(1200000);
  EXPECT_EQ(applied("3.3.0"), 2);
  tick(30000 + 21599999);
  EXPECT_FALSE(gm::updater_busy()) << "the next check 6 h after the first";
  tick(30000 + 21600000);
  EXPECT_TRUE(gm::updater_busy() && port.take());
  EXPECT_TRUE(check_ends());
  EXPECT_FALSE(quit);
}

// Against the rig's update server; each release file holds bytes of its own.
TEST_F(Updater, TheCheckPutsNewerModulesLiveOnceAndStagesANewerLoaderAndAppWithTheirModules) {
  gmtest::UpdateServerProcess server;
  server.point_app_here();
  int downloads = 0;
  const auto check = [&](const std::string& version, Names args) {
    for (std::string& a : args) a = a[0] == '@' ? home_.write("src/" + a, a + version) : a;
    args.insert(args.begin(), {"--version", version});
    ASSERT_EQ(server.release(args), 0);
    gm::check();
    downloads = 0;
    for (const auto& r : server.requests()) downloads += r.path.rfind("/files/", 0) == 0;
  };
  // The first check with Gainmesh not installed (`--update-now` runs in the demo).
  check("3.3.0", {"--module", "wing", "3.3.0", "@wing"});
  EXPECT_EQ(count("  update: release 3.3.0 available (this is 3.2.0)\n"), 1);
  EXPECT_EQ(count("  update: wing-3.3.0.dylib verified and kept for the next install\n"), 1);

  const gmtest::InstalledBundle b(home_, installed_);
  for (const char* v : {"3.4.0", "3.4.0", "3.5.0"}) check(v, {"--module", "wing", v, "@wing"});
  EXPECT_EQ(count("  update: wing-3.4.0.dylib verified and installed\n"), 1);
  EXPECT_TRUE(downloads == 3 && gm::pair_ok(b.modules_dir() + "/wing-3.5.0.dylib"));
  EXPECT_EQ(count("  update: removed old module wing-3.2.0.dylib\n"), 1);
  EXPECT_EQ(count("  update: removed old module wing-3.3.0.dylib\n"), 1) << "from the mirror";
  EXPECT_TRUE(file_exists(home_.run_dir() + "/org.ambervale.gainmesh.modules-changed"));

  home_.write("src/Gainmesh.app/Contents/MacOS/Gainmesh", "new app");
  for (const char* v : {"3.6.0", "3.6.0"})
    check(v, {"--module", "wing", v, "@wing", "--abi", "4", "--loader", v, "@loader", "--app", v,
              at("src/Gainmesh.app")});
  EXPECT_EQ(count("update: Gainmesh 3.6.0 staged - it installs the next time LV1 is closed\n"), 1);
  EXPECT_EQ(downloads, 6) << "a second check leaves the stage alone";
  EXPECT_TRUE(gm::updater_staged() && read_file(at(kStage + "ready")) == "3.6.0");
  for (const char* f : {"Gainmesh.dylib", "Gainmesh.app.zip", "modules/wing-3.6.0.dylib"})
    EXPECT_TRUE(gm::pair_ok(at(kStage + f))) << f;
  EXPECT_FALSE(file_exists(b.modules_dir() + "/wing-3.6.0.dylib")) << "needs the new loader";
}

}  // namespace
