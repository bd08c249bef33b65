// The loader's rules that need no module: reading state.cfg, ordering versions, listing the
// modules folder, the status block's bytes, the modules-changed notification and the log.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "base/modules_changed.h"
#include "base/paths.h"
#include "loader_log.h"
#include "loader_test_util.h"
#include "module_pick.h"
#include "state_cfg.h"
#include "status_block.h"

namespace {

using namespace gm_base;
using namespace gm_loader;
using namespace loadertest;
using gmtest::console_summary;

TEST(StateCfg, SwitchesATypeOffOnlyForItsOwnKeyFollowedByEquals) {
  struct Case {
    const char* text;
    bool enabled, guest;
  } cases[] = {
      {"x32=off\n", true, false},       {"WING=Off\n", false, false},
      {"wing = off\n", true, false},    {"wing=on\nwing=OFF;switched by setup\n", false, false},
      {"wing=off\r\n", false, false},   {"wing.guest=1\n", true, true},
      {"wing.guest=10\n", true, false},
  };
  for (const Case& c : cases) {
    const ConsoleState s = parse_console_state(c.text, "wing");
    EXPECT_EQ(s.enabled, c.enabled) << c.text;
    EXPECT_EQ(s.guest, c.guest) << c.text;
    EXPECT_EQ(s.wanted(), c.enabled && !c.guest) << c.text;
  }
}

TEST(Versions, CompareNumericallyWithPreReleasesBelow) {
  EXPECT_GT(compare_ver(parse_ver("3.10.0"), parse_ver("3.2.0")), 0);
  EXPECT_LT(compare_ver(parse_ver("3.2.0-rc1"), parse_ver("3.2.0")), 0);
  EXPECT_GT(compare_ver(parse_ver("3.2.0-rc1"), parse_ver("3.1.9")), 0);
  EXPECT_EQ(compare_ver(parse_ver("3.2.0.7"), parse_ver("3.2.0")), 0);
  EXPECT_EQ(parse_ver("x.2.0").major, -1);
  EXPECT_LT(compare_ver(parse_ver("3.2"), parse_ver("0.0.0")), 0);
}

TEST(ModulesFolder, ListsOnlyThisTypesModulesNewestFirst) {
  gmtest::TempHome home;
  const std::string dir = home.path() + "/modules";
  for (const char* name :
       {"wing-3.2.0.dylib", "wing-3.10.0.dylib", "wing-3.9.1.dylib", "wing-3.10.0-rc2.dylib",
        "wing-3.2.dylib", "wing-3.11.0.dylib.sig", "wingx-9.0.0.dylib", "x32-9.0.0.dylib",
        "wing-4.0.0.so", ".wing-9.0.0.dylib.part"}) {
    write_bytes(dir + "/" + name, name);
  }
  std::vector<std::string> names;
  for (const ModuleFile& f : list_modules(dir, "wing")) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"wing-3.10.0.dylib", "wing-3.10.0-rc2.dylib",
                                             "wing-3.9.1.dylib", "wing-3.2.0.dylib"}));
  const auto x32 = list_modules(dir, "x32");
  ASSERT_EQ(x32.size(), 1u);
  EXPECT_EQ(x32[0].version, "9.0.0");
  EXPECT_EQ(x32[0].path, dir + "/x32-9.0.0.dylib");
  EXPECT_TRUE(list_modules(home.path() + "/missing", "wing").empty());
}

class StatusBlockTest : public gmtest::TempHomeTest {};

TEST_F(StatusBlockTest, PublishesTheLayoutTheAppReads) {
  const std::string run = home_.run_dir();
  write_bytes(run + "/GainmeshLoader", std::string(1000, 'x'));  // left by an earlier run
  StatusBlock blk;
  std::string err;
  ASSERT_TRUE(blk.open(run, "3.2.0", err)) << err;

  ConsoleEntry wing;
  wing.key = "wing";
  wing.enabled = wing.module_present = wing.in_slot = true;
  wing.card_kind = 7;
  wing.running_version = "3.10.0";
  wing.load_error = 3;
  wing.error_code = GM_LOAD_ERR_BAD_SIGNATURE;
  wing.module_file = "wing-" + std::string(70, '9') + ".dylib";
  wing.extra_cards = 2;
  blk.write(0, wing);
  ConsoleEntry x32;
  x32.key = "x32";
  blk.write(1, x32);
  blk.set_rescans(5);

  const GmLoaderStatus view = loader_block(run);
  EXPECT_EQ(std::filesystem::file_size(run + "/GainmeshLoader"), 304u);
  EXPECT_EQ(std::memcmp(&view, "DLMG", 4), 0) << "magic 0x474D4C44, little-endian";
  EXPECT_EQ(view.size, 304u);
  EXPECT_STREQ(view.loader_version, "3.2.0");
  EXPECT_EQ(
      console_summary(view.consoles[0]),
      "wing on=1 present=1 slot=1 kind=7 run=3.10.0 err=3/2 file=wing-" + std::string(58, '9'));
  EXPECT_EQ(std::strlen(view.consoles[0].module_file), 63u) << "cut and NUL-terminated";
  EXPECT_EQ(console_summary(view.consoles[1]),
            "x32 on=0 present=0 slot=0 kind=0 run= err=0/0 file=");
  EXPECT_EQ(view.extra_cards[0], 2u);
  uint32_t pid;
  std::memcpy(&pid, view.tail + 4, 4);
  EXPECT_EQ(rescans(view), 5u);
  EXPECT_EQ(pid, static_cast<uint32_t>(getpid()));

  wing.running_version = "";  // a later update goes into the same file
  blk.write(0, wing);
  EXPECT_EQ(loader_block(run).consoles[0].running_version[0], '\0');
  blk.close();
  EXPECT_EQ(loader_block(run).magic, GM_LOADER_MAGIC) << "the file stays after close";
}

class Notification : public gmtest::TempHomeTest {};

TEST_F(Notification, PostsARisingCounterThatAWatcherSees) {
  EXPECT_EQ(modules_changed_path(), home_.run_dir() + "/org.ambervale.gainmesh.modules-changed");
  std::string err;
  ASSERT_TRUE(post_modules_changed(err)) << err;  // creates the run folder
  EXPECT_EQ(gmtest::read_file(modules_changed_path()), "1\n");

  ModulesChangedWatch watch;
  ASSERT_TRUE(watch.open(home_.run_dir()));
  EXPECT_FALSE(watch.drain());
  ASSERT_TRUE(post_modules_changed(err));
  EXPECT_EQ(gmtest::read_file(modules_changed_path()), "2\n");
  EXPECT_TRUE(watch.drain());
  EXPECT_FALSE(watch.drain());
  write_bytes(home_.run_dir() + "/GainmeshStatus", "x");
  EXPECT_FALSE(watch.drain()) << "other files in the run folder are no notification";
}

TEST_F(Notification, ReportsAFolderItCannotWrite) {
  write_bytes(home_.path() + "/Library/Application Support/Gainmesh/run", "a file, not a folder");
  std::string err;
  EXPECT_FALSE(post_modules_changed(err));
  EXPECT_EQ(err, "Could not post the modules-changed notification " + modules_changed_path() + ".");
}

class LoaderLog : public gmtest::TempHomeTest {};

TEST_F(LoaderLog, WritesTimeStampedTaggedLinesAndKeepsOneOlderGeneration) {
  log_line("wing", "first\nsecond");
  loader_logf("rescan %d", 2);
  const std::string text = gmtest::read_file(home_.logs_dir() + "/gainmesh.log");
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  )";
  EXPECT_TRUE(std::regex_match(
      text, std::regex(stamp + R"(\[wing\] first second\n)" + stamp + R"(\[loader\] rescan 2\n)")))
      << text;

  write_bytes(home_.logs_dir() + "/gainmesh.log", std::string((1 << 20) + 1, 'x'));
  log_line("x32", "after the cut");
  EXPECT_EQ(std::filesystem::file_size(home_.logs_dir() + "/gainmesh.1.log"), (1u << 20) + 1);
  EXPECT_NE(gmtest::read_file(home_.logs_dir() + "/gainmesh.log").find("[x32] after the cut"),
            std::string::npos);
}

}  // namespace
