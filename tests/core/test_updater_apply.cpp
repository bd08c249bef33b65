// Applying a stage as the updater leaves it in a temporary home: modules into the bundle and the
// mirror, the loader in place with the bundle's versions, the app swapped for the one in a zip
// archive (made here with libarchive) and started, archives that try to write outside refused;
// the new copy waiting for the old one; and the tick's timetable with "now" given.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "install_files.h"
#include "install_texts.h"
#include "lv1.h"
#include "platform.h"
#include "support/eventually.h"
#include "support/installed_bundle.h"
#include "support/temp_home.h"
#include "updater.h"
#include "updater_times.h"
#include "util.h"

namespace {

namespace fs = std::filesystem;

struct ZipEntry {
  std::string path, data;
  mode_t type = AE_IFREG;  // data is a link's target for AE_IFLNK
  int perm = 0644;
};

std::string zip(const std::vector<ZipEntry>& entries) {
  std::string buf(1 << 20, '\0');
  size_t used = 0;
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  archive_write_open_memory(a, buf.data(), buf.size(), &used);
  for (const ZipEntry& z : entries) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, z.path.c_str());
    archive_entry_set_filetype(e, z.type);
    archive_entry_set_perm(e, z.perm);
    if (z.type == AE_IFLNK) archive_entry_set_symlink(e, z.data.c_str());
    if (z.type == AE_IFREG) archive_entry_set_size(e, static_cast<la_int64_t>(z.data.size()));
    archive_write_header(a, e);
    if (z.type == AE_IFREG) archive_write_data(a, z.data.data(), z.data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
  buf.resize(used);
  return buf;
}

std::string info_plist(const std::string& exe) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "<key>CFBundleExecutable</key><string>" +
         exe + "</string>\n</dict>\n</plist>\n";
}

// A new Gainmesh.app whose executable writes its arguments to `started` when it runs.
std::vector<ZipEntry> new_app(const std::string& started) {
  return {{"Gainmesh.app/", "", AE_IFDIR, 0755},
          {"Gainmesh.app/Contents/Info.plist", info_plist("Gainmesh")},
          {"Gainmesh.app/Contents/MacOS/Gainmesh",
           "#!/bin/sh\necho \"$@\" > '" + started + ".part' && mv '" + started + ".part' '" +
               started + "'\n",
           AE_IFREG, 0755},
          {"Gainmesh.app/Contents/Current", "MacOS", AE_IFLNK, 0755}};
}

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

class UpdaterApply : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gmtest::eventually([] { return !gm::updater_busy(); }));
    gm::updater_set_staged(true);
    lay_old_app(app_);
    gm::set_app_path(app_);
  }
  void TearDown() override {
    gmtest::eventually([] { return !gm::updater_busy(); });
    gm::set_app_path("");
  }

  static void lay_old_app(const std::string& at) {
    gmtest::make_dirs(at + "/Contents/MacOS");
    std::ofstream(at + "/Contents/MacOS/Gainmesh") << "old";
    std::ofstream(at + "/Contents/Info.plist") << info_plist("Gainmesh");
  }

  // Writes a file into the stage with its signature (good, or altered after signing).
  std::string stage(const std::string& rel, const std::string& bytes, bool good_sig = true) {
    const std::string path = home_.write(kStage + rel, bytes);
    gmtest::sign_file(path, path + ".sig");
    if (!good_sig) {
      std::string sig = gmtest::read_file(path + ".sig");
      sig[3] ^= 1;
      home_.write(kStage + rel + ".sig", sig);
    }
    return path;
  }
  void ready(const std::string& version = "3.3.0") { home_.write(kStage + "ready", version); }

  bool apply(bool& restart) {
    std::lock_guard<std::recursive_mutex> lock(gm::bundle_mutex());
    return gm::apply_staged(restart);
  }
  std::string log() const { return gmtest::read_file(home_.logs_dir() + "/gainmesh-app.log"); }
  bool logged(const std::string& line) const {
    return log().find("  " + line + "\n") != std::string::npos;
  }
  std::string mirror(const std::string& name) const {
    return home_.path() + "/Library/Application Support/Gainmesh/modules/" + name;
  }
  bool stage_left() const { return gmtest::file_exists(home_.path() + "/" + kStage + "ready"); }
  std::string app_exe() const { return gmtest::read_file(app_ + "/Contents/MacOS/Gainmesh"); }

  const std::string kStage = "Library/Application Support/Gainmesh/updates/staged/";
  const std::string app_ = home_.path() + "/Applications/Gainmesh.app";
  const std::string started_ = home_.path() + "/started";
};

gmtest::InstalledBundle::Options no_module() {
  gmtest::InstalledBundle::Options o;
  o.with_module = false;
  return o;
}

TEST_F(UpdaterApply, StagedModulesGoToTheBundleAndTheMirrorAndTheStageIsUsedUp) {
  gmtest::InstalledBundle bundle(home_, no_module());
  stage("modules/wing-3.3.0.dylib", "new module");
  stage("modules/wing-3.4.0.dylib", "tampered", false);
  ready();
  bool restart = true;
  ASSERT_TRUE(apply(restart));
  EXPECT_FALSE(restart);
  for (const std::string& dir : {bundle.modules_dir() + "/", mirror("")}) {
    EXPECT_EQ(gmtest::read_file(dir + "wing-3.3.0.dylib"), "new module") << dir;
    EXPECT_EQ(gmtest::read_file(dir + "wing-3.3.0.dylib.sig").size(), 64u) << dir;
    EXPECT_FALSE(gmtest::file_exists(dir + "wing-3.4.0.dylib")) << "fails verification";
  }
  EXPECT_FALSE(gmtest::file_exists(home_.path() + "/" + kStage));
  EXPECT_FALSE(gm::updater_staged());
  EXPECT_TRUE(logged("update: Gainmesh 3.3.0 applied"));
}

TEST_F(UpdaterApply, TheLoaderReplacesTheBundlesWithBothVersionKeysOrIsSkippedWithoutABundle) {
  // Not installed: the stage is used up, modules go to the mirror, the loader nowhere.
  stage("modules/wing-3.3.0.dylib", "new module");
  stage("Gainmesh.dylib", "new loader");
  ready();
  bool restart = false;
  ASSERT_TRUE(apply(restart));
  EXPECT_TRUE(logged("update: loader 3.3.0 skipped (Gainmesh is not installed)"));
  EXPECT_EQ(gmtest::read_file(mirror("wing-3.3.0.dylib")), "new module");
  EXPECT_FALSE(stage_left());
  EXPECT_FALSE(gmtest::file_exists(home_.io_modules_dir() + "/Gainmesh.bundle"));

  // Installed, with the installer's Info.plist; markup in the version stays text.
  gmtest::InstalledBundle bundle(home_, no_module());
  home_.write("IO Modules/Gainmesh.bundle/Contents/Info.plist", gm::bundle_info_plist());
  stage("Gainmesh.dylib", "new loader");
  const std::string sig = gmtest::read_file(home_.path() + "/" + kStage + "Gainmesh.dylib.sig");
  ready("3.3.0 <b>&");
  ASSERT_TRUE(apply(restart));
  EXPECT_TRUE(logged("update: loader 3.3.0 <b>& installed into Gainmesh.bundle"));
  EXPECT_EQ(gmtest::read_file(bundle.macos_dir() + "/Gainmesh"), "new loader");
  EXPECT_EQ(gmtest::read_file(bundle.macos_dir() + "/Gainmesh.sig"), sig);
  struct stat st {};
  ASSERT_EQ(stat((bundle.macos_dir() + "/Gainmesh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  std::map<std::string, std::string> info;
  ASSERT_TRUE(gm::read_bundle_info(bundle.bundle(), &info)) << "still a property list";
  EXPECT_EQ(info["CFBundleShortVersionString"], "3.3.0 <b>&");
  EXPECT_EQ(info["CFBundleVersion"], "3.3.0 <b>&");
  EXPECT_EQ(info["CFBundleIdentifier"], "org.ambervale.gainmesh.loader");
}

TEST_F(UpdaterApply, ALoaderWhoseSignatureWasAlteredDiscardsTheWholeStage) {
  gmtest::InstalledBundle bundle(home_, no_module());
  const std::string before = gmtest::read_file(bundle.macos_dir() + "/Gainmesh");
  stage("modules/wing-3.3.0.dylib", "new module");
  stage("Gainmesh.dylib", "new loader", false);
  stage("Gainmesh.app.zip", zip(new_app(started_)));
  ready();
  bool restart = false;
  EXPECT_FALSE(apply(restart));
  EXPECT_TRUE(logged("update: staged loader fails verification - discarded"));
  EXPECT_FALSE(gmtest::file_exists(home_.path() + "/" + kStage));
  EXPECT_FALSE(gm::updater_staged());
  EXPECT_EQ(gmtest::read_file(bundle.macos_dir() + "/Gainmesh"), before);
  EXPECT_EQ(app_exe(), "old");
  EXPECT_EQ(gmtest::read_file(bundle.modules_dir() + "/wing-3.3.0.dylib"), "new module")
      << "modules copied before the loader stay";
}

TEST_F(UpdaterApply, TheAppIsSwappedForTheArchivedOneAndTheOldCopyKeptAside) {
  stage("Gainmesh.app.zip", zip(new_app(started_)));
  ready();
  bool restart = false;
  ASSERT_TRUE(apply(restart));
  EXPECT_TRUE(restart);
  EXPECT_TRUE(logged("update: Gainmesh 3.3.0 applied - restarting into it"));
  EXPECT_NE(app_exe().find("#!/bin/sh"), std::string::npos);
  EXPECT_EQ(access((app_ + "/Contents/MacOS/Gainmesh").c_str(), X_OK), 0);
  EXPECT_EQ(fs::read_symlink(app_ + "/Contents/Current"), "MacOS");
  EXPECT_EQ(gmtest::read_file(app_ + ".old/Contents/MacOS/Gainmesh"), "old");
  EXPECT_FALSE(gmtest::file_exists(gm::updates_root() + "/app")) << "scratch folder removed";
  EXPECT_FALSE(stage_left());

  // An app on another file system is copied into place instead of renamed.
  std::error_code ec;
  const fs::path other = fs::path("/dev/shm") / ("gm-updater-" + std::to_string(getpid()));
  if (!fs::create_directories(other, ec)) GTEST_SKIP() << "no second file system to copy to";
  lay_old_app((other / "Gainmesh.app").string());
  gm::set_app_path((other / "Gainmesh.app").string());
  stage("Gainmesh.app.zip", zip(new_app(started_)));
  ready();
  EXPECT_TRUE(apply(restart) && restart);
  EXPECT_EQ(fs::read_symlink(other / "Gainmesh.app/Contents/Current"), "MacOS");
  EXPECT_EQ(access((other / "Gainmesh.app/Contents/MacOS/Gainmesh").c_str(), X_OK), 0);
  EXPECT_EQ(gmtest::read_file((other / "Gainmesh.app.old/Contents/MacOS/Gainmesh").string()),
            "old");
  fs::remove_all(other, ec);
}

TEST_F(UpdaterApply, AnArchiveThatWouldWriteOutsideIsRefusedAndTheRunningAppKept) {
  const std::string abs = "/tmp/gm-updater-abs-" + std::to_string(getpid());
  const std::vector<ZipEntry> bad[] = {
      {{"../evil", "x"}},
      {{abs, "x"}},
      {{"Gainmesh.app/Contents/../../../evil", "x"}},
      {{"Gainmesh.app/out", "../../..", AE_IFLNK}},
      {{"Gainmesh.app/abs", "/etc", AE_IFLNK}},
      // Lexically inside, but "l1" is itself a link to the scratch folder.
      {{"Gainmesh.app/l1", "..", AE_IFLNK}, {"Gainmesh.app/Contents/l2", "../l1/..", AE_IFLNK}},
      // Written through a link of the archive.
      {{"Gainmesh.app/l3", "Contents", AE_IFLNK}, {"Gainmesh.app/l3/evil", "x"}},
  };
  for (const auto& entries : bad) {
    SCOPED_TRACE(entries.back().path);
    std::vector<ZipEntry> all = new_app(started_);
    all.insert(all.end(), entries.begin(), entries.end());
    stage("Gainmesh.app.zip", zip(all));
    ready();
    bool restart = true;
    EXPECT_FALSE(apply(restart) || restart);
    EXPECT_EQ(count(log(), "update: app not replaced: could not unpack the app - keeping this one"),
              static_cast<int>(&entries - bad) + 1);
    EXPECT_EQ(app_exe(), "old");
    EXPECT_FALSE(gmtest::file_exists(app_ + ".old"));
    EXPECT_TRUE(stage_left() && gm::updater_staged()) << "kept for the next attempt";
    EXPECT_EQ(gm::names_in(gm::updates_root()), std::vector<std::string>{"staged"});
    EXPECT_FALSE(gmtest::file_exists(abs));
  }

  stage("Gainmesh.app.zip", zip({{"Other.app/Contents/MacOS/Gainmesh", "x"}}));
  bool restart = false;
  EXPECT_FALSE(apply(restart));
  EXPECT_TRUE(
      logged("update: app not replaced: the archive has no Gainmesh.app - keeping this one"));
  stage("Gainmesh.app.zip", "not a zip");
  EXPECT_FALSE(apply(restart));
  EXPECT_EQ(count(log(), "could not unpack the app"), static_cast<int>(std::size(bad)) + 1);
}

TEST_F(UpdaterApply, ACopyOutsideAnAppBundleNeverReplacesItself) {
  const std::string dev = home_.path() + "/build/Gainmesh";
  gmtest::make_dirs(dev);
  gm::set_app_path(dev);
  stage("Gainmesh.app.zip", zip(new_app(started_)));
  ready();
  bool restart = false;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    EXPECT_FALSE(apply(restart) || restart);
    EXPECT_EQ(count(log(),
                    "update: app not replaced: this copy is not inside Gainmesh.app - "
                    "keeping this one\n"),
              attempt);
  }
  EXPECT_TRUE(stage_left());
  EXPECT_EQ(gm::names_in(home_.path() + "/build"), std::vector<std::string>{"Gainmesh"});
  EXPECT_EQ(app_exe(), "old");
}

TEST_F(UpdaterApply, TheNewCopyWaitsForTheOldOneThenRemovesTheReplacedCopy) {
  // A process that is already gone: no wait.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  gmtest::make_dirs(app_ + ".old/Contents/MacOS");
  std::string arg = "--updated=" + std::to_string(gone);
  char* argv[] = {const_cast<char*>("Gainmesh"), arg.data(), nullptr};
  auto start = std::chrono::steady_clock::now();
  gm::updater_wait_previous(2, argv);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(logged("update: now running 3.2.0"));
  EXPECT_FALSE(gmtest::file_exists(app_ + ".old"));
  EXPECT_EQ(app_exe(), "old");

  // One that ends a little later: the wait lasts until then.
  pid_t old = fork();
  if (old == 0) {
    usleep(400000);
    _exit(0);
  }
  std::thread reaper([old] { waitpid(old, nullptr, 0); });
  arg = "--updated=" + std::to_string(old);
  argv[1] = arg.data();
  start = std::chrono::steady_clock::now();
  gm::updater_wait_previous(2, argv);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  reaper.join();
  EXPECT_EQ(count(log(), "update: now running 3.2.0\n"), 2);
}

TEST_F(UpdaterApply, TheTickChecksAfter30sThenEvery6hAndAppliesAtMostEvery10min) {
  if (gm::lv1_running()) GTEST_SKIP() << "an eMotion LV1 runs on this machine";
  gm::set_app_path(home_.path() + "/build/Gainmesh");  // every apply fails and says so
  stage("Gainmesh.app.zip", zip(new_app(started_)));
  ready();
  gm::updater_set_staged(false);
  const auto checks = [&] {
    EXPECT_TRUE(gmtest::eventually([] { return !gm::updater_busy(); }));
    return count(log(), "update: check failed (HTTP 0) - next try in 6 h\n");
  };
  const auto applies = [&] { return count(log(), "update: app not replaced: "); };
  gm::UpdaterTimes t;
  bool quit = true;
  const int64_t t0 = 1000, first = t0 + 30000, second = first + 21600000;
  gm::updater_tick_at(t, t0, quit);
  EXPECT_FALSE(quit || gm::updater_busy());
  EXPECT_TRUE(gm::updater_staged()) << "read at the first tick";
  EXPECT_EQ(applies(), 1);
  gm::updater_tick_at(t, first - 1, quit);
  EXPECT_EQ(checks(), 0);
  gm::updater_tick_at(t, first, quit);
  EXPECT_EQ(checks(), 1);
  EXPECT_TRUE(gm::updater_staged()) << "a failed check keeps what was staged";
  gm::updater_tick_at(t, t0 + 599999, quit);
  EXPECT_EQ(applies(), 1);
  gm::updater_tick_at(t, t0 + 600000, quit);
  EXPECT_EQ(applies(), 2);
  gm::updater_tick_at(t, second - 1, quit);
  EXPECT_EQ(checks(), 1);
  gm::updater_tick_at(t, second, quit);
  EXPECT_EQ(checks(), 2);
  EXPECT_FALSE(quit);
}

TEST_F(UpdaterApply, TheTickStartsTheReplacedAppWithItsOwnPidAndAsksToQuit) {
  if (gm::lv1_running()) GTEST_SKIP() << "an eMotion LV1 runs on this machine";
  stage("Gainmesh.app.zip", zip(new_app(started_)));
  ready();
  gm::UpdaterTimes t;
  bool quit = false;
  gm::updater_tick_at(t, 1000, quit);
  EXPECT_TRUE(quit);
  ASSERT_TRUE(gmtest::eventually([&] { return gmtest::file_exists(started_); }));
  EXPECT_EQ(gmtest::read_file(started_), "--updated=" + std::to_string(getpid()) + "\n");
  EXPECT_TRUE(gmtest::file_exists(app_ + ".old"));
}

}  // namespace
