// The module's settings file: loading, saving, single-key edits and the live re-reads.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "bridge_cfg.h"
#include "module/module_test_util.h"
#include "module_entry.h"
#include "support/eventually.h"
#include "support/module_fixture.h"
#include "support/settings_race.h"

extern char** environ;

namespace {

using gmtest::read_file;

// The app editing `path` in a process of its own: keys <prefix>1 ... <prefix><count>, set to 1.
pid_t start_app_edits(const std::string& path, const char* prefix, int count) {
  const std::string n = std::to_string(count);
  const char* argv[] = {GM_APP_CFG_EDIT, path.c_str(), prefix, n.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, GM_APP_CFG_EDIT, nullptr, nullptr, const_cast<char**>(argv), environ)) {
    return -1;
  }
  return pid;
}

// How many lines of `text` hold each key.
std::map<std::string, int> key_counts(const std::string& text) {
  std::map<std::string, int> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find('=') != std::string::npos) ++out[line.substr(0, line.find('='))];
  }
  return out;
}

class ModuleCfg : public gmtest::InProcessModuleTest {
 protected:
  // Rewrites the file with a last-write time `secs` ahead, as an edit by the app would.
  void edit(const std::string& text, int secs) {
    home_.write("wing.cfg", text);
    timespec t[2] = {{time(nullptr) + secs, 0}, {time(nullptr) + secs, 0}};
    utimensat(AT_FDCWD, cfg_path().c_str(), t, 0);
  }
  struct stat stat_of() const {
    struct stat st {};
    stat(cfg_path().c_str(), &st);
    return st;
  }
  // The settings in force, key by key.
  static std::string values() {
    const gm::CfgValues v = gm::cfg_snapshot();
    return "ip=" + v.ip + " hint=" + v.hint + " console=" + v.console + " bank=" + v.bank +
           " base=" + std::to_string(v.base) + " watch=" + std::to_string(v.watch) +
           " notify=" + std::to_string(v.notify) + " card=" + v.card +
           " resync_desk=" + std::to_string(v.resync_desk) +
           " recall=" + std::to_string(v.session_recall) +
           " detail=" + std::to_string(gm::detail_level());
  }
  bool has_part_file() const {
    for (const auto& e : std::filesystem::directory_iterator(home_.path())) {
      if (e.path().filename().string().find(".part.") != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(ModuleCfg, LoadReadsKeysIgnoringCaseWithCommentsAndLaterLinesWinning) {
  load_settings(
      "; header\nIP= \t10.0.0.5 \t;typed\n ip=9.9.9.9\nBank=B\nbank=ABCDEFGHIJ\nbase=17\n"
      "watch=0\nNOTIFY=0\ncard=CRD ; slot\nresync=Desk\nsession_recall=OFF\nconsole=W 1\n"
      "diag=1\n");
  EXPECT_TRUE(host_.has_line("[cfg] using " + cfg_path()));
  EXPECT_EQ(values(),
            "ip=10.0.0.5 hint= console=W 1 bank=ABCDEFG base=17 watch=1 notify=0 card=CRD  "
            "resync_desk=1 recall=0 detail=2");

  load_settings("watch=100\nresync=lv\nsession_recall=offline\ndiag=0\n");
  const std::string defaults =
      "ip= hint= console= bank=LCL base=1 watch=64 notify=1 card=MOD resync_desk=0 ";
  EXPECT_EQ(values(), defaults + "recall=0 detail=1");

  load_settings("bank=B\nwatch=3\n");
  std::filesystem::remove(cfg_path());
  gm::load_cfg();
  EXPECT_TRUE(host_.has_line("[cfg] no " + cfg_path() + " - using defaults"));
  EXPECT_EQ(values(), defaults + "recall=1 detail=1");

  load_settings("; " + std::string(253, 'x') +
                "watch=5\n");  // the tail of an overlong line is no setting
  EXPECT_EQ(gm::cfg_watch(), 64);
}

TEST_F(ModuleCfg, ProtectListParsingAndEditsRefuseDuplicatesOverflowAndUnstorableGroups) {
  load_settings("protect=LCL:3, A:12 ; B:4\n");
  gm::ProtectEntry e[gm::kMaxProtect];
  ASSERT_EQ(gm::cfg_protect_copy(e), 2);
  EXPECT_STREQ(e[1].group, "A");
  EXPECT_EQ(e[1].input, 12);
  EXPECT_TRUE(
      host_.has_line("[48V] protected inputs (48V will never be switched on): LCL 3, A 12"));

  load_settings("protect=LCL:1\nprotect=A:0,:4,B:,C:2x,D\n");
  EXPECT_EQ(gm::cfg_protect_copy(e), 0);
  EXPECT_EQ(host_.count_lines("[48V]"), 2);  // the second load logged only "LCL 1"

  std::string many = "protect=LONGGROUPNAME:1";
  for (int i = 2; i <= 40; ++i) many += ",A:" + std::to_string(i);
  load_settings(many + "\n");
  EXPECT_EQ(gm::cfg_protect_copy(e), 32);
  EXPECT_STREQ(e[0].group, "LONGGRO");
  EXPECT_TRUE(gm::cfg_is_protected("longgro", 1));

  load_settings("");
  EXPECT_TRUE(gm::cfg_protect_add("A", 1));
  // A duplicate in any case, a group the file cannot hold, no input.
  EXPECT_FALSE(gm::cfg_protect_add("a", 1) || gm::cfg_protect_add("A,B", 2) ||
               gm::cfg_protect_add("A", 0));
  // (A full list and removal in any case: BridgeSet.TheProtectListHolds...)
}

TEST_F(ModuleCfg, SaveWritesEveryValueInOrderReplacingTheFileWhole) {
  const std::string old_text = "ip=10.0.0.5\nconsole=W1\nhint=10.0.0.6\nextra=1\ndiag=1\n";
  load_settings(old_text);
  chmod(cfg_path().c_str(), 0600);
  const int old_fd = open(cfg_path().c_str(), O_RDONLY);
  gm::cfg_apply_request("SC\nip=6.6.6.6", 3, 80, true);
  gm::cfg_protect_add("A", 5);
  gm::cfg_protect_add("LCL", 2);
  gm::save_cfg();
  EXPECT_EQ(read_file(cfg_path()),
            "; written by Gainmesh - edit while LV1 is closed\nbank=SC\nbase=3\nwatch=64\n"
            "notify=1\ncard=MOD\nresync=desk\nprotect=A:5,LCL:2\ndiag=1\nip=10.0.0.5\n"
            "hint=10.0.0.6\nconsole=W1\nsession_recall=on\n");
  EXPECT_TRUE(host_.has_line("[cfg] saved " + cfg_path()));
  char buf[128] = {};
  EXPECT_EQ(pread(old_fd, buf, sizeof buf - 1, 0), static_cast<ssize_t>(old_text.size()))
      << "a reader keeps the old file";
  close(old_fd);
  EXPECT_EQ(stat_of().st_mode & 0777, 0600u);
  EXPECT_FALSE(has_part_file());

  gm::load_cfg();
  EXPECT_EQ(gm::cfg_ip(), "10.0.0.5");
  EXPECT_TRUE(gm::cfg_is_protected("LCL", 2));

  host_.set_cfg_path(gmtest::wide(home_.path() + "/missing/wing.cfg"));
  gm::load_cfg();
  gm::save_cfg();
  EXPECT_TRUE(host_.has_line("[cfg] could not write " + home_.path() + "/missing/wing.cfg"));
}

TEST_F(ModuleCfg, SavingKeepsOtherEditsAndPutsOnlyWhatTheModuleChangedOverThem) {
  load_settings("resync=desk\nsession_recall=on\nprotect=LCL:3\n");
  const auto saved = [&](const std::string& lines) {
    return "; written by Gainmesh - edit while LV1 is closed\nbank=LCL\n" + lines;
  };
  // Edits of the app and the user since the module read the file: all of them stay.
  home_.write("wing.cfg",
              "resync=lv1\nsession_recall=off\nprotect=LCL:3,B:7\nip=10.1.1.1\ndiag=1\n");
  ASSERT_TRUE(gm::cfg_protect_add("A", 4));
  gm::save_cfg();
  EXPECT_EQ(read_file(cfg_path()),
            saved("base=1\nwatch=64\nnotify=1\ncard=MOD\nresync=lv1\nprotect=LCL:3,B:7,A:4\n"
                  "diag=1\nip=10.1.1.1\nsession_recall=off\n"));

  // A settings request wins for what it sets; once saved, a later edit of the same key stays.
  gm::cfg_apply_request("", 0, 0, true);
  home_.write("wing.cfg", "resync=lv1\nbase=9\nprotect=LCL:3,B:7,A:4\n");
  gm::save_cfg();
  EXPECT_EQ(read_file(cfg_path()),
            saved("base=9\nwatch=64\nnotify=1\ncard=MOD\nresync=desk\nprotect=LCL:3,B:7,A:4\n"
                  "session_recall=on\n"));
  home_.write("wing.cfg", "resync=lv1\nprotect=LCL:3,B:7,A:4\n");
  ASSERT_TRUE(gm::cfg_protect_remove("lcl", 3));
  gm::save_cfg();
  EXPECT_EQ(read_file(cfg_path()),
            saved("base=1\nwatch=64\nnotify=1\ncard=MOD\nresync=lv1\nprotect=B:7,A:4\n"
                  "session_recall=on\n"));
  EXPECT_TRUE(gm::cfg_resync_desk()) << "the module goes on with its own value";
}

TEST_F(ModuleCfg, SetKeyReplacesFirstLineDropsLaterOnesAndKeepsTheRest) {
  load_settings("; note\nHINT=1.1.1.1 ; old\nhints=x\nfoo=bar\nhint=2.2.2.2\nlast");
  EXPECT_TRUE(gm::cfg_set_key("hint", "3.3.3.3"));
  EXPECT_EQ(read_file(cfg_path()), "; note\nhint=3.3.3.3\nhints=x\nfoo=bar\nlast");
  EXPECT_TRUE(host_.has_line("[cfg] hint=3.3.3.3 saved"));

  home_.write("wing.cfg", "bank=A");
  EXPECT_TRUE(gm::cfg_set_key("hint", "4.4.4.4"));
  EXPECT_EQ(read_file(cfg_path()), "bank=A\nhint=4.4.4.4\n");

  std::filesystem::remove(cfg_path());
  EXPECT_TRUE(gm::cfg_set_key("hint", "5.5.5.5"));
  EXPECT_EQ(read_file(cfg_path()), "hint=5.5.5.5\n");
  EXPECT_EQ(stat_of().st_mode & 0777, 0644u);

  // The value already stored, but a later line would win.
  home_.write("wing.cfg", "hint=1.2.3.4\nhint=9.9.9.9\n");
  EXPECT_TRUE(gm::cfg_set_key("hint", "1.2.3.4"));
  EXPECT_EQ(read_file(cfg_path()), "hint=1.2.3.4\n");
}

TEST_F(ModuleCfg, SetKeyRefusesOversizedFilesAndUnstorableValues) {
  std::string big = "; " + std::string(16380, 'x') + "\nh";  // 16384 bytes
  load_settings(big);
  EXPECT_FALSE(gm::cfg_set_key("hint", "1.2.3.4"));
  EXPECT_TRUE(host_.has_line("[cfg] " + cfg_path() + " is too large to edit - hint not saved"));
  EXPECT_EQ(read_file(cfg_path()), big);

  home_.write("wing.cfg", "a=1\n");
  EXPECT_FALSE(gm::cfg_set_key("hint", "1.2.3.4\nip=6.6.6.6") ||
               gm::cfg_set_key("hint", std::string(160, '1').c_str()));
  EXPECT_EQ(read_file(cfg_path()), "a=1\n");
}

TEST_F(ModuleCfg, LivePickUpOfDiagAndSessionRecall) {
  gm::load_cfg();  // no file yet: one created later is seen
  gm::cfg_refresh_live(1000);
  edit("diag=1\n", 10);
  gm::cfg_refresh_live(4000);
  EXPECT_EQ(gm::detail_level(), 2);
  EXPECT_TRUE(host_.has_line("[cfg] detailed logging ON (changed in gainmesh settings)"));
  EXPECT_TRUE(gm::cfg_session_recall());

  edit("diag=0\nsession_recall=off\n", 30);
  gm::cfg_refresh_live(6000);  // within 3 s of the last look
  EXPECT_EQ(gm::detail_level(), 2);
  gm::cfg_refresh_live(7000);
  EXPECT_EQ(gm::detail_level(), 1);
  EXPECT_FALSE(gm::cfg_session_recall());
  EXPECT_TRUE(host_.has_line("[cfg] detailed logging off (changed in gainmesh settings)"));
}

TEST_F(ModuleCfg, PinReloadFollowsIpAndConsole) {
  load_settings("ip=10.0.0.1\n");
  home_.write("wing.cfg", "IP=  10.0.0.9  ; typed\nconsole= WING-123 \n");
  gm::cfg_reload_pin();
  gm::cfg_reload_pin();
  EXPECT_EQ(host_.count_lines("[cfg] ip= 10.0.0.9"), 1);
  EXPECT_EQ(host_.count_lines("[cfg] console= WING-123"), 1);

  std::filesystem::remove(cfg_path());
  gm::cfg_reload_pin();
  EXPECT_EQ(gm::cfg_ip(), "10.0.0.9");

  home_.write("wing.cfg", "bank=A\n");
  gm::cfg_reload_pin();
  gmtest::expect_lines(
      host_, {"[cfg] ip= (cleared - discovery finds the console)", "[cfg] console= (cleared)"});
  EXPECT_EQ(gm::cfg_console(), "");
}

TEST_F(ModuleCfg, ConcurrentWritersNeverShowReadersAHalfWrittenFile) {
  load_settings("bank=A\n");
  gm::save_cfg();
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      std::string s = read_file(cfg_path());
      if (s.rfind("; written by Gainmesh", 0) != 0 || s.back() != '\n') ++torn;
    }
  });
  std::thread saver([&] {
    for (int i = 1; i <= 100; ++i) {
      gm::cfg_apply_request(nullptr, i, 0, i % 2);
      gm::save_cfg();
    }
  });
  for (int i = 0; i < 100; ++i) gm::cfg_set_key("hint", ("10.0.0." + std::to_string(i)).c_str());
  saver.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_FALSE(has_part_file());
}

TEST_F(ModuleCfg, TheAppAndTheModuleEditingAtOnceLoseNoEdit) {
  constexpr int kEdits = 1000;
  // The race is what counts here, not the disk: in memory when the system has a place for it,
  // the two runs' 8000 flushes cost next to nothing.
  std::string dir = "/dev/shm/gmcfg.XXXXXX";
  if (!mkdtemp(dir.data())) dir = home_.path();
  const std::string path = dir + "/wing.cfg";
  host_.set_cfg_path(gmtest::wide(path));
  std::ofstream(path) << "; written by Gainmesh\n";
  gm::load_cfg();
  const pid_t app = start_app_edits(path, "a", kEdits);
  ASSERT_GT(app, 0);
  // The module starts once the app has, so that the two runs overlap.
  EXPECT_TRUE(gmtest::wait_for([&] { return key_counts(read_file(path)).count("a1"); }, 10000));
  int failed = 0;
  for (int i = 1; i <= kEdits; ++i)
    failed += !gm::cfg_set_key(("m" + std::to_string(i)).c_str(), "1");
  int status = -1;
  ASSERT_EQ(waitpid(app, &status, 0), app);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(status, 0) << "every edit of the app was saved";

  const std::string text = read_file(path);
  std::map<std::string, int> every_edit_once;
  for (int i = 1; i <= kEdits; ++i)
    every_edit_once["a" + std::to_string(i)] = every_edit_once["m" + std::to_string(i)] = 1;
  EXPECT_TRUE(key_counts(text) == every_edit_once);
  EXPECT_LT(text.find("\nm1=1\n"), text.find("\na1000=1\n")) << "the two runs overlapped";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2) << "and the lock";
  if (dir != home_.path()) std::filesystem::remove_all(dir);
}

TEST_F(ModuleCfg, WritesWaitForTheAppsLockAtMostTwoSecondsAlsoWhenItsFileIsReplaced) {
  load_settings("hint=1.1.1.1\n");
  const std::string lock = cfg_path() + ".lock";
  auto app = std::make_unique<gmtest::HeldCfgLock>(cfg_path());
  ASSERT_GE(app->fd(), 0);
  std::thread edit([] { EXPECT_TRUE(gm::cfg_set_key("hint", "2.2.2.2")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Meanwhile the app swaps in a new bundle and edits its file: the write waits for that lock.
  ASSERT_EQ(rename(lock.c_str(), (lock + ".old").c_str()), 0);
  auto swapped = std::make_unique<gmtest::HeldCfgLock>(cfg_path());
  ASSERT_GE(swapped->fd(), 0);
  app.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(read_file(cfg_path()), "hint=1.1.1.1\n");
  swapped.reset();
  edit.join();
  EXPECT_EQ(read_file(cfg_path()), "hint=2.2.2.2\n");

  {
    const gmtest::HeldCfgLock hung(cfg_path());  // an app that hangs while holding it
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(gm::cfg_set_key("hint", "3.3.3.3"));
    gm::save_cfg();
    const long waited = gmtest::ms_since(start);
    EXPECT_GE(waited, 2 * 2000);
    EXPECT_LT(waited, 2 * 2000 + 1500);
  }
  EXPECT_EQ(read_file(cfg_path()), "hint=2.2.2.2\n");
  const std::string busy = "[cfg] could not lock " + lock + " within 2 s - ";
  gmtest::expect_lines(host_, {busy + "hint not saved", busy + "settings not saved"});

  // A link planted at the lock's name is never followed.
  const std::string made = home_.path() + "/made";
  unlink(lock.c_str());
  ASSERT_EQ(symlink(made.c_str(), lock.c_str()), 0);
  EXPECT_FALSE(gm::cfg_set_key("hint", "4.4.4.4"));
  EXPECT_TRUE(host_.has_line("[cfg] could not write " + cfg_path()));
  EXPECT_FALSE(gmtest::file_exists(made));
}

}  // namespace
