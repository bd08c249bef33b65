// The installer on a temporary home: the bytes it generates, what it takes from Waves' card
// bundles, what it carries over, how it swaps bundles and when it adds console modules live.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

#include "api.h"
#include "core_state.h"
#include "drive/card_bundles.h"
#include "install.h"
#include "install_files.h"
#include "install_state.h"
#include "install_texts.h"
#include "module_update.h"
#include "platform.h"
#include "support/settings_race.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

namespace fs = std::filesystem;
using gmtest::read_file;
using ::testing::HasSubstr;

// The entry names of a folder, sorted, joined by spaces.
std::string names(const std::string& dir) {
  std::set<std::string> all;
  for (const auto& e : fs::directory_iterator(dir)) all.insert(e.path().filename().string());
  std::string out;
  for (const std::string& n : all) out += (out.empty() ? "" : " ") + n;
  return out;
}

TEST(InstallTexts, DeviceListsMergeOnceEachAndPrioritiesBecome600) {
  struct Merge {
    const char *ours, *theirs, *want;
  } merges[] = {{"", "a\nb \r\n\n", "a\nb\n"},
                {"a\r\nb", "b\nc\r\na\n", "a\r\nb\nc\n"},
                {"x", "y\ny\n", "x\ny\n"}};
  for (const Merge& m : merges)
    EXPECT_EQ(gm::merge_device_list(m.ours, m.theirs), m.want) << m.theirs;
  struct Rewrite {
    const char *in, *out;
  } rewrites[] = {
      {"assignment_priority:\t 5\n", "assignment_priority:\t 5\n"},
      {" assignment_priority: 1.0\nname: a.b\n", " assignment_priority: 1.0\nname: a.b\n"},
      {"a: 1\nassignment_priority:7.25\r\n", "a: 1\nassignment_priority:600.25\r\n"}};
  for (const Rewrite& r : rewrites) EXPECT_EQ(gm::rewrite_assignment_priority(r.in), r.out) << r.in;
}

// What the administrator step meets below folders the user owns: links and hard links planted
// where it reads or writes, pipes, files the user may not read.
class PlantedFiles : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    secret_ = home_.write("root-only/secret", "root's secret");
    chmod(secret_.c_str(), 0600);
    chmod((home_.path() + "/root-only").c_str(), 0700);
    plain_ = home_.write("user/plain", "plain bytes");
  }
  std::string at(const std::string& rel) const { return home_.path() + "/" + rel; }
  // A symbolic link at `rel`, owned by the user nobody unless `by_root`.
  void plant_link(const std::string& target, const std::string& rel, bool by_root = false) {
    fs::create_directories(fs::path(at(rel)).parent_path());
    fs::create_symlink(target, at(rel));
    if (!by_root) {
      ASSERT_EQ(lchown(at(rel).c_str(), 65534, 65534), 0);
    }
  }
  std::string secret_, plain_;
};

TEST_F(PlantedFiles, NothingIsReadOrWrittenThroughAPlantedLinkPipeOrHardLink) {
  std::string out;
  plant_link(secret_, "user/wing.cfg");
  EXPECT_FALSE(gm::read_regular(at("user/wing.cfg"), out, 1 << 20));
  EXPECT_FALSE(gm::copy_file_over(at("user/wing.cfg"), at("user/copy")));
  ASSERT_EQ(mkfifo(at("user/pipe").c_str(), 0644), 0);
  EXPECT_FALSE(gm::copy_file_over(at("user/pipe"), at("user/copy"))) << "and did not block";

  // A folder on the way through a link: followed only when root made it in a folder nobody else
  // may change.
  plant_link(at("root-only"), "user/by-user");
  plant_link(at("root-only"), "by-root", true);
  EXPECT_FALSE(gm::read_regular(at("user/by-user/secret"), out, 1 << 20));
  EXPECT_TRUE(gm::read_regular(at("by-root/secret"), out, 1 << 20));
  chmod(home_.path().c_str(), 0777);
  EXPECT_FALSE(gm::read_regular(at("by-root/secret"), out, 1 << 20)) << "others may write there";
  chmod(home_.path().c_str(), 0700);

  // Reading for the user nobody: only what that user could read.
  const gm::Reader nobody{65534, 65534};
  EXPECT_FALSE(gm::read_regular(secret_, out, 1 << 20, nobody));
  EXPECT_TRUE(gm::read_regular(plain_, out, 1 << 20, nobody));
  EXPECT_EQ(out, "plain bytes");

  // Links and hard links waiting at the destination are replaced, never written through.
  plant_link(secret_, "user/dest-link");
  ASSERT_EQ(link(secret_.c_str(), at("user/dest-hard").c_str()), 0);
  for (const char* dest : {"user/dest-link", "user/dest-hard"}) {
    EXPECT_TRUE(gm::copy_file_over(plain_, at(dest))) << dest;
    EXPECT_EQ(read_file(at(dest)), "plain bytes");
  }
  EXPECT_EQ(read_file(secret_), "root's secret");
  EXPECT_TRUE(gm::write_new_file(at("user/dest-link"), "new"));
  EXPECT_EQ(read_file(secret_), "root's secret");
}

TEST_F(PlantedFiles, HandingOverAndRemovingStayInsideTheTree) {
  plant_link(at("root-only"), "tree/sub/link-out", true);
  home_.write("tree/sub/file", "ours");
  EXPECT_TRUE(gm::hand_over_tree(at("tree"), 65534, 65534));
  struct stat st {};
  ASSERT_EQ(lstat(at("tree/sub/link-out").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u) << "the link itself";
  ASSERT_EQ(stat(at("tree/sub/file").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  ASSERT_EQ(stat(secret_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u) << "nor what it leads to";

  ASSERT_EQ(link(secret_.c_str(), at("tree/hard").c_str()), 0);
  EXPECT_FALSE(gm::hand_over_tree(at("tree"), 65534, 65534)) << "a file with a name elsewhere";
  ASSERT_EQ(stat(secret_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);

  EXPECT_TRUE(gm::remove_tree(at("tree")));
  EXPECT_FALSE(gmtest::file_exists(at("tree")));
  EXPECT_EQ(read_file(secret_), "root's secret");
}

// A home with the three Waves card bundles and an app whose payload holds a loader and a module.
class Installer : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    home_.write("Gainmesh.app/Contents/Library/Payload/Gainmesh", "loader 3.2.0\n");
    carry("wing-3.2.0.dylib", true);
    gm::set_app_path(home_.path() + "/Gainmesh.app");
    for (const char* c : gm::kCardBundles) rig::lay_out_card_bundle(home_.io_modules_dir(), c);
  }
  void carry(const std::string& name, bool sig) {
    home_.write("Gainmesh.app/Contents/Library/Payload/modules/" + name, "module " + name);
    if (sig) home_.write("Gainmesh.app/Contents/Library/Payload/modules/" + name + ".sig", "sig");
  }
  std::string in_bundle(const std::string& rel) const { return read_file(gm::our_bundle() + rel); }
  void install(int only = -1) {
    std::string err;
    ASSERT_TRUE(gm::install_impl(err, gm::kKeepOwner, gm::kKeepOwner, only)) << err;
  }
};

TEST_F(Installer, BuildsTheBundleFromWavesResourcesAndThePayload) {
  const std::string carried = gm::payload_dir() + "/modules/wing-3.2.0.dylib";
  ASSERT_EQ(setxattr(carried.c_str(), gm::kQuarantineAttribute, "1", 1, 0), 0);
  install(1);
  EXPECT_TRUE(gm::installed());
  EXPECT_EQ(gm::installed_version(), "3.2.0");
  std::map<std::string, std::string> info;
  ASSERT_TRUE(gm::read_bundle_info(gm::our_bundle(), &info));
  EXPECT_EQ(info["CFBundleIdentifier"], "org.ambervale.gainmesh.loader");
  EXPECT_THAT(in_bundle("/Contents/Info.plist"),
              HasSubstr("\n    <key>CSResourcesFileMapped</key><true/>\n</dict>\n</plist>\n"));
  EXPECT_EQ(fs::status(gm::bundle_dir() + "/Gainmesh").permissions() & fs::perms::all,
            static_cast<fs::perms>(0755));
  EXPECT_EQ(in_bundle("/Contents/MacOS/modules/wing-3.2.0.dylib.sig"), "sig");
  const std::string module = gm::bundle_dir() + "/modules/wing-3.2.0.dylib";
  EXPECT_EQ(getxattr(module.c_str(), gm::kQuarantineAttribute, nullptr, 0), -1) << "cleared";
  EXPECT_EQ(in_bundle("/Contents/MacOS/state.cfg"), "wing=off\nx32=on\n");
  EXPECT_EQ(gm::cfg_value(gm::con_cfg(1), "resync"), "desk");
  // Waves' resources: the first bundle's file wins; the device lists and Wfis are united.
  EXPECT_EQ(in_bundle("/Contents/Resources/English.lproj/InfoPlist.strings"),
            "CFBundleName = \"SoundGrid Wing Control\";\n");
  EXPECT_EQ(in_bundle("/Contents/Resources/VDID/1000"),
            "0x0100 SoundGrid IO\n0x0a31 WING WSG card\n0x0b12 X-WSG card\n0x0b13 X-WSG v2\n"
            "0x0c20 DN32-WSG card\n");
  EXPECT_EQ(in_bundle("/Contents/Resources/APPINFO/x-wsg.yaml"),
            "name: SoundGrid X-WSG Control\nassignment_priority: 600.0\nchannels: 64\n");
  EXPECT_EQ(in_bundle("/Contents/Resources/APPINFO/notes.txt"), "assignment_priority: 100.0\n");
  EXPECT_EQ(names(gm::our_bundle() + "/Contents/Wfis"),
            "dn32-wsg.wfi soundgrid-common.wfi wing.wfi x-wsg.wfi");
  for (const char* never : {"/manifest.yaml", "/_CodeSignature", "/MacOS/SoundGrid Wing Control"}) {
    EXPECT_FALSE(gmtest::file_exists(gm::our_bundle() + "/Contents" + never)) << never;
  }
  EXPECT_FALSE(gm::loader_update_pending());
}

TEST_F(Installer, AReinstallKeepsTheSettingsAndAFailedSwapOrHandOverKeepsTheOldBundle) {
  install(0);
  gm::cfg_set_line(gm::con_cfg(0), "ip", "127.0.0.9");
  gm::cfg_set_line(gm::state_cfg(), "x32", "on");
  const auto settings = [] {
    return read_file(gm::con_cfg(0)) + read_file(gm::con_cfg(1)) + read_file(gm::state_cfg());
  };
  const std::string kept = settings();
  home_.write("Gainmesh.app/Contents/Library/Payload/Gainmesh", "loader 3.2.1\n");
  home_.write("IO Modules/Gainmesh.bundle.new/stale", "from a crash");
  {
    const gmtest::HeldCfgLock module(gm::con_cfg(0));  // a console module in the middle of an edit
    std::string err;
    EXPECT_FALSE(gm::install_impl(err, gm::kKeepOwner, gm::kKeepOwner, -1));
    EXPECT_EQ(err,
              "Could not carry over wing.cfg from the installed Gainmesh bundle while another "
              "program was changing it, so nothing was changed. Try again in a moment.");
    EXPECT_EQ(in_bundle("/Contents/MacOS/Gainmesh"), "loader 3.2.0\n");
  }

  struct Fault {
    const char* step;
    std::string err;
  } faults[] = {{"swap", "Could not put the new Gainmesh bundle in place."},
                {"chown", "Could not hand the new Gainmesh bundle to this user."}};
  for (const Fault& f : faults) {
    setenv("GAINMESH_TEST_FAIL_AT", f.step, 1);
    std::string err;
    EXPECT_FALSE(gm::install_impl(err, 0, 0, -1)) << f.step;
    unsetenv("GAINMESH_TEST_FAIL_AT");
    EXPECT_EQ(err, f.err);
    EXPECT_EQ(in_bundle("/Contents/MacOS/Gainmesh"), "loader 3.2.0\n") << f.step;
    for (const char* w : {".new", ".old"}) EXPECT_FALSE(gmtest::file_exists(gm::our_bundle() + w));
  }
  EXPECT_FALSE(gm::loader_update_pending()) << "the same version with another loader is current";
  std::string plist = in_bundle("/Contents/Info.plist");
  plist.replace(plist.find("3.2.0</string>\n    <key>CS"), 5, "3.2.0-beta");
  gm::write_text(gm::our_bundle() + "/Contents/Info.plist", plist);
  EXPECT_TRUE(gm::loader_update_pending()) << "a pre-release with another loader is older";
  install(1);
  EXPECT_EQ(in_bundle("/Contents/MacOS/Gainmesh"), "loader 3.2.1\n");
  EXPECT_EQ(settings(), kept) << "kept byte for byte";
  EXPECT_FALSE(gm::loader_update_pending());
}

// Without any card bundle the install is refused:
// CommandLine.InstallAndSwitchSayWhyNothingWasInstalled.
TEST_F(Installer, AnXwsgModuleAloneIsEnoughAndModulesGoLiveOnlyIntoACurrentBundle) {
  fs::remove_all(gm::card_bundle(0));
  std::string err;
  ASSERT_TRUE(gm::do_install(err, false, -1)) << err;

  // A module already there keeps its own bytes; a new name is copied alone when it has no .sig.
  home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/modules/wing-3.2.0.dylib", "mine");
  EXPECT_TRUE(gm::apply_live_module_updates(err));
  const std::string notice = gm::run_dir() + "/org.ambervale.gainmesh.modules-changed";
  EXPECT_FALSE(gmtest::file_exists(notice)) << "nothing new, so no notification";
  carry("x32-1.0.0.dylib", false);
  home_.write("Library/Application Support/Gainmesh/modules/wing-3.3.0-beta.dylib", "mirror");
  home_.write("Library/Application Support/Gainmesh/modules/wing-3.3.0.txt", "not a module");
  EXPECT_TRUE(gm::modules_update_pending());
  EXPECT_TRUE(gm::apply_live_module_updates(err)) << err;
  EXPECT_TRUE(gmtest::file_exists(notice));
  EXPECT_EQ(names(gm::bundle_dir() + "/modules"),
            "wing-3.2.0.dylib wing-3.2.0.dylib.sig wing-3.3.0-beta.dylib x32-1.0.0.dylib");
  EXPECT_EQ(in_bundle("/Contents/MacOS/modules/wing-3.2.0.dylib"), "mine");
  EXPECT_FALSE(gm::modules_update_pending());
  EXPECT_THAT(home_.app_log(), HasSubstr("install: 2 console module(s) added live"));

  // A changed Waves resource makes the installed loader out of date, whatever the versions.
  home_.write("IO Modules/SoundGrid X-WSG Control.bundle/Contents/Wfis/new.wfi", "new");
  EXPECT_TRUE(gm::loader_update_pending());
}

// state.cfg as the app reads it, the same way as the loader: the key in any letter case right
// before "=", a value beginning with "off" in any case, the last line winning, and pieces of at
// most 127 characters each read as a line.
TEST_F(Installer, StateLinesSwitchATypeOffOnlyWhenTheKeyMatchesExactly) {
  install();
  const std::string comment = "; " + std::string(125, '-');
  const char* const cases[][2] = {
      {"WING=Off\n", "off"},       {"wing=offline\n", "off"},
      {"wing = off\n", "on"},      {"wing=on\nwing=OFF;by hand\n", "off"},
      {"x32=off\nwing\n", "on"},   {"", "on"},
      {"wing=off\nwing=\n", "on"},
  };
  for (const auto& c : cases) {
    gm::write_text(gm::state_cfg(), c[0]);
    bool on = false;
    ASSERT_TRUE(gm::console_installed(0, &on)) << c[0];
    EXPECT_EQ(on ? "on" : "off", std::string(c[1])) << c[0];
  }
  gm::write_text(gm::state_cfg(), comment + "wing=off\n");
  bool on = true;
  EXPECT_TRUE(gm::console_installed(0, &on) && !on) << "the 128th character starts a piece";
  fs::remove_all(gm::card_bundle(0));
  gm::write_text(gm::state_cfg(), "wing=on\n");
  EXPECT_FALSE(gm::console_installed(0, &on)) << "Waves' WING module is missing";
}

// Switching on a console whose Waves module is missing changes nothing and says why, installed
// or not; a switch that fails after an install keeps its own message.
TEST_F(Installer, ASwitchThatCannotHappenSaysWhyAndChangesNothing) {
  const std::string why =
      "Could not switch it on \xE2\x80\x94 LV1's IO Modules folder has no SoundGrid X-WSG "
      "Control module from Waves, which Gainmesh needs for the X32 / M32.";
  fs::remove_all(gm::card_bundle(1));
  EXPECT_EQ(gm_switch(1), 0);
  EXPECT_EQ(gm::current_msg(), why);
  EXPECT_FALSE(gmtest::file_exists(gm::our_bundle())) << "nothing installed";

  install();
  gm::write_text(gm::state_cfg(), "wing=on\nx32=on\n");
  home_.write("Gainmesh.app/Contents/Library/Payload/Gainmesh", "loader 3.2.1\n");
  gm::set_msg("");
  EXPECT_EQ(gm_switch(1), 0);
  EXPECT_EQ(gm::current_msg(), why);
  EXPECT_EQ(in_bundle("/Contents/MacOS/state.cfg"), "wing=on\nx32=on\n") << "WING stays on";
  EXPECT_EQ(in_bundle("/Contents/MacOS/Gainmesh"), "loader 3.2.0\n") << "not reinstalled";

  // state.cfg refuses the switch right after a first install, and after an install the last
  // scan chose the types for (each a first install, so that an LV1 running elsewhere on this
  // machine cannot stop it).
  fs::remove_all(gm::our_bundle());
  setenv("GAINMESH_TEST_FAIL_AT", "switch", 1);
  EXPECT_EQ(gm_switch(0), 0);
  const std::string refused = " \xE2\x80\x94 Could not write " + gm::state_cfg() + ".";
  EXPECT_EQ(gm::current_msg(), "Could not switch it on" + refused);
  EXPECT_EQ(in_bundle("/Contents/MacOS/Gainmesh"), "loader 3.2.1\n") << "installed";
  fs::remove_all(gm::our_bundle());
  {
    std::lock_guard<std::mutex> lock(gm::core_mutex());
    gm::core_state().found[0].found = true;
  }
  EXPECT_TRUE(gm_install());
  EXPECT_EQ(gm::current_msg(), "Could not switch it off" + refused);
  unsetenv("GAINMESH_TEST_FAIL_AT");
  std::lock_guard<std::mutex> lock(gm::core_mutex());
  gm::core_state() = gm::CoreState();
}

}  // namespace
