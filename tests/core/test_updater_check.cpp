// The update check against the rig's HTTPS update server, with releases built by gm-release and
// signed with the TEST-ONLY key: console modules going live or into the mirror, what is staged
// for when LV1 is closed, what a repeated check leaves alone, and refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "lv1.h"
#include "support/installed_bundle.h"
#include "support/temp_home.h"
#include "support/update_server.h"
#include "updater.h"
#include "util.h"

namespace {

using Args = std::vector<std::string>;

class UpdaterCheck : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    if (gm::lv1_running()) GTEST_SKIP() << "an eMotion LV1 runs on this machine";
    server_.point_app_here();
  }

  // Publishes a release built from files made here; `files` are gm-release's item options, with
  // "@<name>" standing for a file of that name holding bytes of its own.
  void publish(const std::string& version, Args files) {
    for (std::string& a : files) {
      if (a[0] != '@') continue;
      a = home_.write("src/" + a.substr(1), "bytes of " + a.substr(1) + " " + version);
    }
    files.insert(files.begin(), {"--version", version});
    std::string err;
    ASSERT_EQ(server_.release(files, &err), 0) << err;
  }
  // An app folder for gm-release to zip.
  std::string app_folder() const {
    const std::string app = home_.path() + "/src/Gainmesh.app";
    home_.write("src/Gainmesh.app/Contents/MacOS/Gainmesh", "new app");
    home_.write("src/Gainmesh.app/Contents/Info.plist", "<plist/>");
    return app;
  }

  std::string log() const { return gmtest::read_file(home_.logs_dir() + "/gainmesh-app.log"); }
  int count(const std::string& needle) const {
    const std::string text = log();
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
      ++n;
    }
    return n;
  }
  int file_requests() const {
    int n = 0;
    for (const auto& r : server_.requests()) n += r.path.rfind("/files/", 0) == 0;
    return n;
  }
  std::string mirror(const std::string& name) const {
    return home_.path() + "/Library/Application Support/Gainmesh/modules/" + name;
  }
  std::string staged(const std::string& name) const { return gm::stage_dir() + "/" + name; }

  gmtest::UpdateServerProcess server_;
};

gmtest::InstalledBundle::Options loopback_module() {
  gmtest::InstalledBundle::Options o;
  o.wing_ip = "127.0.0.1";
  return o;
}

TEST_F(UpdaterCheck, ANewerModuleGoesLiveWithANotificationAndOldVersionsArePruned) {
  gmtest::InstalledBundle bundle(home_, loopback_module());
  const std::string notify = home_.run_dir() + "/org.ambervale.gainmesh.modules-changed";
  publish("3.3.0", {"--module", "wing", "3.3.0", "@wing"});
  gm::check();
  EXPECT_EQ(count("  update: release 3.3.0 available (this is 3.2.0)\n"), 1);
  EXPECT_EQ(count("  update: wing-3.3.0.dylib verified and installed\n"), 1);
  for (const std::string& path :
       {bundle.modules_dir() + "/wing-3.3.0.dylib", mirror("wing-3.3.0.dylib")}) {
    EXPECT_EQ(gmtest::read_file(path), "bytes of wing 3.3.0") << path;
    EXPECT_TRUE(gm::pair_ok(path)) << path;
  }
  EXPECT_TRUE(gmtest::file_exists(notify)) << "the loader was told";
  EXPECT_FALSE(gm::updater_staged() || gmtest::file_exists(gm::stage_dir()));

  // The same release again: nothing is downloaded.
  const int downloads = file_requests();
  gm::check();
  EXPECT_EQ(count("  update: release 3.3.0 available"), 2);
  EXPECT_EQ(file_requests(), downloads);
  EXPECT_EQ(count("verified and installed"), 1);

  // A third version: the oldest of the live folder goes (LV1 runs none of them).
  publish("3.4.0", {"--module", "wing", "3.4.0", "@wing"});
  gm::check();
  EXPECT_EQ(count("  update: removed old module wing-3.2.0.dylib\n"), 1);
  EXPECT_FALSE(gmtest::file_exists(bundle.modules_dir() + "/wing-3.2.0.dylib"));
  EXPECT_TRUE(gmtest::file_exists(bundle.modules_dir() + "/wing-3.3.0.dylib"));
}

TEST_F(UpdaterCheck, WithoutGainmeshInstalledAModuleIsKeptForTheNextInstall) {
  publish("3.3.0", {"--module", "wing", "3.3.0", "@wing"});
  gm::check();
  EXPECT_EQ(count("  update: wing-3.3.0.dylib verified and kept for the next install\n"), 1);
  EXPECT_TRUE(gm::pair_ok(mirror("wing-3.3.0.dylib")));
  EXPECT_FALSE(gmtest::file_exists(home_.io_modules_dir() + "/Gainmesh.bundle"));
}

TEST_F(UpdaterCheck, AModuleForAnotherLoaderWaitsForThatLoaderInTheStage) {
  gmtest::InstalledBundle bundle(home_, loopback_module());
  publish("3.3.0",
          {"--module", "wing", "3.3.0", "@wing", "--abi", "4", "--loader", "3.3.0", "@loader"});
  gm::check();
  EXPECT_EQ(count("  update: Gainmesh 3.3.0 staged - it installs the next time LV1 is closed\n"),
            1);
  EXPECT_FALSE(gmtest::file_exists(bundle.modules_dir() + "/wing-3.3.0.dylib"));
  EXPECT_TRUE(gm::pair_ok(staged("modules/wing-3.3.0.dylib")));
  EXPECT_TRUE(gm::pair_ok(staged("Gainmesh.dylib")));
  EXPECT_FALSE(gmtest::file_exists(staged("Gainmesh.app.zip")));
  EXPECT_EQ(gm::staged_version(), "3.3.0");
  EXPECT_TRUE(gm::updater_staged());

  // Without a newer loader such a module is dropped, and a loader as old as this app is none.
  const int downloads = file_requests();
  publish("3.4.0",
          {"--module", "wing", "3.4.0", "@wing", "--abi", "4", "--loader", "3.2.0", "@loader"});
  gm::check();
  EXPECT_EQ(file_requests(), downloads);
  EXPECT_EQ(gm::staged_version(), "3.3.0") << "the earlier stage stays";
}

TEST_F(UpdaterCheck, ALoaderAndAnAppAreStagedOnceAndATamperedStageIsDiscarded) {
  publish("3.3.0", {"--loader", "3.3.0", "@loader", "--app", "3.3.0", app_folder()});
  gm::check();
  ASSERT_EQ(gm::staged_version(), "3.3.0");
  EXPECT_TRUE(gm::pair_ok(staged("Gainmesh.dylib")) && gm::pair_ok(staged("Gainmesh.app.zip")));
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(staged("Gainmesh.app.zip").c_str(), &before), 0);
  const int downloads = file_requests();
  gm::check();
  ASSERT_EQ(stat(staged("Gainmesh.app.zip").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "the stage was left alone";
  EXPECT_EQ(file_requests(), downloads);
  EXPECT_EQ(count("staged - it installs"), 1);

  // Changed on disk after staging: applying refuses it and removes the whole stage.
  std::fstream(staged("Gainmesh.app.zip"), std::ios::in | std::ios::out | std::ios::binary)
      .put('X');
  gm::set_app_path(home_.path() + "/Applications/Gainmesh.app");
  bool restart = false;
  {
    std::lock_guard<std::recursive_mutex> lock(gm::bundle_mutex());
    EXPECT_FALSE(gm::apply_staged(restart) || restart);
  }
  gm::set_app_path("");
  EXPECT_EQ(count("  update: staged app fails verification - discarded\n"), 1);
  EXPECT_FALSE(gm::updater_staged() || gmtest::file_exists(gm::stage_dir()));

  // A newer app beside a loader as old as this app: only the app is staged.
  publish("3.4.0", {"--loader", "3.2.0", "@loader", "--app", "3.4.0", app_folder()});
  gm::check();
  EXPECT_EQ(gm::staged_version(), "3.4.0");
  EXPECT_TRUE(gmtest::file_exists(staged("Gainmesh.app.zip")));
  EXPECT_FALSE(gmtest::file_exists(staged("Gainmesh.dylib")));
}

TEST_F(UpdaterCheck, RefusedDownloadsAndRepliesAreLoggedWithTheirReason) {
  publish("3.3.0", {"--module", "wing", "3.3.0", "@wing", "--loader", "3.3.0", "@loader"});
  server_.fail_with("/files/wing-3.3.0.dylib", 404);
  server_.serve_instead("/files/Gainmesh.dylib", "another loader");
  gm::check();
  EXPECT_EQ(count("  update: wing-3.3.0.dylib 3.3.0 refused: download failed (HTTP 404)\n"), 1);
  EXPECT_EQ(count("  update: Gainmesh.dylib 3.3.0 not staged: wrong size\n"), 1);
  EXPECT_FALSE(gmtest::file_exists(mirror("wing-3.3.0.dylib")));
  EXPECT_FALSE(gm::updater_staged() || gmtest::file_exists(gm::stage_dir()));

  server_.fail_with("/v1/updates", 404);
  gm::check();
  EXPECT_EQ(count("  update: check failed (HTTP 404) - next try in 6 h\n"), 1);
  server_.point_app_here(server_.make_other_ca("other"));
  gm::check();
  EXPECT_EQ(count("  update: check failed (HTTP 0) - next try in 6 h\n"), 1)
      << "a certificate from another authority is never trusted";
}

}  // namespace
