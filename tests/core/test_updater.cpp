// The updater in a temporary home: signed module folders and pruning, applying a stage (modules,
// the loader, the app from a zip archive made here with libarchive), the tick that restarts into
// the new app, and the check against the rig's HTTPS update server with releases from
// gm-release. Files are signed with the build's gm-sign and the TEST-ONLY key.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/modules_changed.h"
#include "install_files.h"
#include "install_texts.h"
#include "lv1.h"
#include "platform.h"
#include "status.h"
#include "support/eventually.h"
#include "support/installed_bundle.h"
#include "support/update_server.h"
#include "updater.h"
#include "updater_times.h"
#include "util.h"

namespace {

using gmtest::file_exists;
using gmtest::read_file;
using Names = std::vector<std::string>;
struct Z {
  std::string path, data;  // data: a link's target for AE_IFLNK
  mode_t type = AE_IFREG;
};

std::string zip(const std::vector<Z>& entries) {
  std::string buf(1 << 20, '\0');
  size_t used = 0;
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  archive_write_open_memory(a, buf.data(), buf.size(), &used);
  for (const Z& z : entries) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, z.path.c_str());
    archive_entry_set_filetype(e, z.type);
    archive_entry_set_perm(e, 0755);
    archive_entry_set_size(e, z.type == AE_IFREG ? z.data.size() : 0);
    if (z.type == AE_IFLNK) archive_entry_set_symlink(e, z.data.c_str());
    archive_write_header(a, e);
    if (z.type == AE_IFREG) archive_write_data(a, z.data.data(), z.data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
  return buf.substr(0, used);
}

class Updater : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    home_.write(kApp + "Contents/MacOS/Gainmesh", "old");
    home_.write(kApp + "Contents/Info.plist", kPlist);
    gm::set_app_path(app_);
    gm::updater_set_staged(true);
  }
  void TearDown() override {
    gmtest::eventually([] { return !gm::updater_busy(); });
    gm::set_app_path("");
  }
  // Writes a file below the home with its signature, or with 64 bytes that are none.
  std::string put(const std::string& rel, const std::string& bytes, bool good = true) {
    const std::string path = home_.write(rel, bytes);
    if (good) gmtest::sign_file(path, path + ".sig");
    if (!good) home_.write(rel + ".sig", std::string(64, 's'));
    return path;
  }
  void stage(const std::string& name, const std::string& bytes, bool good = true,
             const std::string& version = "3.3.0") {
    put(kStage + name, bytes, good);
    home_.write(kStage + "ready", version);
  }
  bool apply(bool& restart) {
    std::lock_guard<std::recursive_mutex> lock(gm::bundle_mutex());
    return gm::apply_staged(restart);
  }
  int count(const std::string& text) const {
    const std::string log = read_file(home_.logs_dir() + "/gainmesh-app.log");
    int n = 0;
    for (size_t i = log.find(text); i != std::string::npos; i = log.find(text, i + 1)) ++n;
    return n;
  }
  std::string at(const std::string& rel) const { return home_.path() + "/" + rel; }
  // A new Gainmesh.app whose executable writes its arguments to started_.
  std::vector<Z> new_app() const {
    return {{kApp + "Contents/Info.plist", kPlist},
            {kApp + "Contents/MacOS/Gainmesh", "#!/bin/sh\necho \"$@\" > " + started_ + "\n"},
            {kApp + "Contents/Current", "MacOS", AE_IFLNK}};
  }
  gmtest::InstalledBundle bundle() {
    gmtest::InstalledBundle::Options o;
    o.wing_ip = "127.0.0.1";
    return gmtest::InstalledBundle(home_, o);
  }

  const std::string kApp = "Gainmesh.app/",
                    kStage = "Library/Application Support/Gainmesh/updates/staged/",
                    kMirror = "Library/Application Support/Gainmesh/modules/",
                    kPlist =
                        "<plist><dict><key>CFBundleExecutable</key><string>Gainmesh</string>"
                        "</dict></plist>",
                    started_ = at("started"), app_ = at("Gainmesh.app");
};

TEST_F(Updater, SignedModulesCountNewestFirstAndPruningSparesTheTwoNewestAndTheRunningOne) {
  const std::string dir = at("m");
  const auto names = [&] {
    Names out;
    for (const auto& m : gm::signed_modules(dir, "wing"))
      out.push_back(m.second.substr(dir.size() + 1));
    return out;
  };
  for (const char* v : {"wing-3.2.0", "wing-3.10.0", "wing-3.3.0-rc1", "wing-3.5", "wingx-3.7.0"})
    put(std::string("m/") + v + ".dylib", v);
  put("m/wing-3.4.0.dylib", "wrong signature", false);
  home_.write("m/wing-3.6.0.dylib", "no signature");
  EXPECT_EQ(names(), (Names{"wing-3.10.0.dylib", "wing-3.3.0-rc1.dylib", "wing-3.2.0.dylib"}));
  gm::prune_modules(dir, "wing");
  EXPECT_EQ(names(), (Names{"wing-3.10.0.dylib", "wing-3.3.0-rc1.dylib"}));
  EXPECT_EQ(count("  update: removed old module wing-3.2.0.dylib\n"), 1);
  EXPECT_TRUE(!file_exists(dir + "/wing-3.2.0.dylib.sig") &&
              file_exists(dir + "/wing-3.4.0.dylib"));

  // A process named as LV1 holds the loader's block open, which says that wing 3.2.0 runs.
  put("m/wing-3.2.0.dylib", "wing-3.2.0");
  GmLoaderStatus block{};
  block.magic = GM_LOADER_MAGIC;
  block.size = GM_LOADER_READ_BYTES;
  std::strcpy(block.consoles[0].key, "wing");
  std::strcpy(block.consoles[0].running_version, "3.2.0");
  const std::string file = home_.write("Library/Application Support/Gainmesh/run/" GM_LOADER_FILE,
                                       std::string(reinterpret_cast<char*>(&block), sizeof block));
  const pid_t lv1 = fork();
  if (lv1 == 0 && prctl(PR_SET_NAME, gm::kLv1ProcessName) == 0 && open(file.c_str(), O_RDONLY) >= 0)
    pause();
  if (lv1 == 0) _exit(0);
  const bool seen = gmtest::eventually(
      [&] { return gm::lv1_pid() == uint32_t(lv1) && gm::live_blocks(gm::lv1_info()).loader; });
  if (seen) gm::prune_modules(dir, "wing");
  kill(lv1, SIGKILL);
  waitpid(lv1, nullptr, 0);
  if (!seen) GTEST_SKIP() << "another eMotion LV1 runs on this machine";
  EXPECT_EQ(names().size(), 3u);
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
  EXPECT_FALSE(file_exists(at(kMirror + "wing-3.4.0.dylib")) ||
               file_exists(at("IO Modules/Gainmesh.bundle")));

  const gmtest::InstalledBundle b = bundle();
  const std::string loader = b.macos_dir() + "/Gainmesh";
  home_.write("IO Modules/Gainmesh.bundle/Contents/Info.plist", gm::bundle_info_plist());
  stage("modules/wing-3.3.0.dylib", "module");
  stage("Gainmesh.dylib", "loader", true, "3.3.0 <b>&");  // markup stays text in Info.plist
  ASSERT_TRUE(apply(restart));
  EXPECT_EQ(count("  update: loader 3.3.0 <b>& installed into Gainmesh.bundle\n"), 1);
  EXPECT_EQ(read_file(b.modules_dir() + "/wing-3.3.0.dylib"), "module");
  EXPECT_TRUE(read_file(loader) == "loader" && gm::pair_ok(loader)) << "with Gainmesh.sig";
  struct stat st {};
  EXPECT_TRUE(stat(loader.c_str(), &st) == 0 && (st.st_mode & 0777) == 0755);
  std::map<std::string, std::string> info;
  ASSERT_TRUE(gm::read_bundle_info(b.bundle(), &info));
  EXPECT_TRUE(info["CFBundleShortVersionString"] == "3.3.0 <b>&" &&
              info["CFBundleVersion"] == "3.3.0 <b>&");

  stage("modules/wing-3.5.0.dylib", "module 3.5");
  stage("Gainmesh.dylib", "bad loader", false);
  EXPECT_FALSE(apply(restart));
  EXPECT_EQ(count("  update: staged loader fails verification - discarded\n"), 1);
  EXPECT_FALSE(gm::updater_staged() || file_exists(at(kStage)) || read_file(loader) != "loader");
  EXPECT_EQ(read_file(b.modules_dir() + "/wing-3.5.0.dylib"), "module 3.5") << "copied before";
}

TEST_F(Updater, TheTickSwapsTheAppForTheArchivedOneAndStartsItAndTheNewCopyRemovesTheOld) {
  if (gm::lv1_running()) GTEST_SKIP() << "an eMotion LV1 runs on this machine";
  stage("Gainmesh.app.zip", zip(new_app()));
  gm::UpdaterTimes times;
  bool quit = false;
  gm::updater_tick_at(times, 1000, quit);
  EXPECT_TRUE(quit);
  const std::string args = "--updated=" + std::to_string(getpid()) + "\n";
  EXPECT_TRUE(gmtest::eventually([&] { return read_file(started_) == args; }));
  EXPECT_EQ(count("  update: Gainmesh 3.3.0 applied - restarting into it\n"), 1);
  EXPECT_EQ(std::filesystem::read_symlink(app_ + "/Contents/Current"), "MacOS");
  EXPECT_EQ(read_file(app_ + ".old/Contents/MacOS/Gainmesh"), "old");
  EXPECT_EQ(gm::names_in(gm::updates_root()), Names{}) << "stage and scratch folder gone";

  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  std::string arg = "--updated=" + std::to_string(gone);
  char* argv[] = {arg.data(), arg.data()};
  gm::updater_wait_previous(2, argv);
  EXPECT_EQ(count("  update: now running 3.2.0\n"), 1);
  EXPECT_FALSE(file_exists(app_ + ".old"));
}

TEST_F(Updater, AnArchiveThatWouldWriteOutsideOrACopyOutsideAnAppBundleReplacesNothing) {
  const std::string abs = "/tmp/gm-updater-abs-" + std::to_string(getpid());
  const std::vector<Z> bad[] = {
      {{"../evil", "x"}},
      {{abs, "x"}},
      {{"Gainmesh.app/l1", "..", AE_IFLNK}, {"Gainmesh.app/Contents/l2", "../l1/..", AE_IFLNK}}};
  bool restart = false;
  for (const auto& entries : bad) {
    std::vector<Z> all = new_app();
    all.insert(all.end(), entries.begin(), entries.end());
    stage("Gainmesh.app.zip", zip(all));
    EXPECT_FALSE(apply(restart) || restart) << entries.back().path;
  }
  EXPECT_EQ(count("  update: app not replaced: could not unpack the app - keeping this one\n"), 3);
  EXPECT_EQ(gm::names_in(gm::updates_root()), Names{"staged"})
      << "nothing beside the scratch folder";
  EXPECT_FALSE(file_exists(abs) || file_exists(app_ + ".old"));

  gm::set_app_path(at("build"));
  stage("Gainmesh.app.zip", zip(new_app()));
  EXPECT_FALSE(apply(restart) || apply(restart));
  EXPECT_EQ(
      count(
          "  update: app not replaced: this copy is not inside Gainmesh.app - keeping this one\n"),
      2);
  EXPECT_TRUE(file_exists(at(kStage + "ready")) && !file_exists(at("build")));
  EXPECT_EQ(read_file(app_ + "/Contents/MacOS/Gainmesh"), "old");
}

// Against the rig's update server; the release's files hold bytes of their own.
class UpdaterCheck : public Updater {
 protected:
  void publish(const std::string& version, Names args) {
    for (std::string& a : args) {
      if (a[0] == '@') a = home_.write("src/" + a.substr(1), a + version);
    }
    args.insert(args.begin(), {"--version", version});
    ASSERT_EQ(server_.release(args), 0);
  }
  int downloads() const {
    int n = 0;
    for (const auto& r : server_.requests()) n += r.path.rfind("/files/", 0) == 0;
    return n;
  }
  std::string staged(const std::string& name) const { return at(kStage + name); }

  void SetUp() override {
    Updater::SetUp();
    server_.point_app_here();
  }

  gmtest::UpdateServerProcess server_;
};

TEST_F(UpdaterCheck, NewerModulesGoLiveOrIntoTheMirrorOnceAndOldOnesArePruned) {
  publish("3.3.0", {"--module", "wing", "3.3.0", "@wing"});
  gm::check();
  EXPECT_EQ(count("  update: release 3.3.0 available (this is 3.2.0)\n"), 1);
  EXPECT_EQ(count("  update: wing-3.3.0.dylib verified and kept for the next install\n"), 1);
  EXPECT_TRUE(gm::pair_ok(at(kMirror + "wing-3.3.0.dylib")));

  const gmtest::InstalledBundle b = bundle();
  for (const char* v : {"3.4.0", "3.4.0", "3.5.0"}) {
    publish(v, {"--module", "wing", v, "@wing"});
    gm::check();
  }
  EXPECT_EQ(count("update: release 3.4.0 available"), 2);
  EXPECT_EQ(count("  update: wing-3.4.0.dylib verified and installed\n"), 1) << "once";
  EXPECT_EQ(downloads(), 3);
  EXPECT_TRUE(gm::pair_ok(b.modules_dir() + "/wing-3.5.0.dylib"));
  EXPECT_EQ(count("  update: removed old module wing-3.2.0.dylib\n"), 1);
  EXPECT_EQ(count("  update: removed old module wing-3.3.0.dylib\n"), 1) << "from the mirror";
  EXPECT_TRUE(
      file_exists(at("Library/Application Support/Gainmesh/run/") + gm_base::kModulesChangedName));
  EXPECT_FALSE(gm::updater_staged());
}

TEST_F(UpdaterCheck, ANewerLoaderAndAppAreStagedOnceWithTheirModulesAndATamperedStageIsDiscarded) {
  const gmtest::InstalledBundle b = bundle();
  home_.write("src/Gainmesh.app/Contents/MacOS/Gainmesh", "new app");
  publish("3.3.0", {"--module", "wing", "3.3.0", "@wing", "--abi", "4", "--loader", "3.3.0",
                    "@loader", "--app", "3.3.0", at("src/Gainmesh.app")});
  gm::check();
  gm::check();
  EXPECT_EQ(count("  update: Gainmesh 3.3.0 staged - it installs the next time LV1 is closed\n"),
            1);
  EXPECT_EQ(downloads(), 3) << "a second check leaves the stage alone";
  EXPECT_TRUE(gm::updater_staged() && read_file(staged("ready")) == "3.3.0");
  for (const char* f : {"Gainmesh.dylib", "Gainmesh.app.zip", "modules/wing-3.3.0.dylib"})
    EXPECT_TRUE(gm::pair_ok(staged(f))) << f;
  EXPECT_FALSE(file_exists(b.modules_dir() + "/wing-3.3.0.dylib")) << "needs the new loader";

  home_.write(kStage + "Gainmesh.app.zip", "changed on disk");
  bool restart = false;
  EXPECT_FALSE(apply(restart));
  EXPECT_EQ(count("  update: staged app fails verification - discarded\n"), 1);
  EXPECT_FALSE(gm::updater_staged() || file_exists(at(kStage)));

  // Nothing newer than this app but a module for another loader: nothing is fetched.
  publish("3.4.0",
          {"--module", "wing", "3.4.0", "@wing", "--abi", "4", "--loader", "3.2.0", "@loader"});
  gm::check();
  EXPECT_EQ(downloads(), 3);
  EXPECT_FALSE(file_exists(at(kStage)));
}

}  // namespace
