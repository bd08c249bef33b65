// The core's places, settings files, whole-file writes and log, in a temporary home.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "support/settings_race.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

using gmtest::read_file;

class CoreUtil : public gmtest::TempHomeTest {
 protected:
  std::string file(const std::string& content) { return home_.write("s.cfg", content); }
};

TEST_F(CoreUtil, PlacesFollowTheEnvironmentAtEveryCall) {
  EXPECT_EQ(gm::run_dir(), home_.path() + "/Library/Application Support/Gainmesh/run");
  EXPECT_EQ(gm::con_cfg(1), home_.io_modules_dir() + "/Gainmesh.bundle/Contents/MacOS/x32.cfg");
  EXPECT_EQ(gm::con_cfg(2), "");
  setenv("GAINMESH_HOME", "", 1);
  setenv("HOME", "/elsewhere", 1);
  EXPECT_EQ(gm::logs_dir(), "/elsewhere/Library/Logs/Gainmesh") << "an empty GAINMESH_HOME";
  unsetenv("GAINMESH_IO_MODULES");
  EXPECT_EQ(gm::our_bundle(),
            "/Library/Application Support/Waves/SoundGrid IO Modules/Gainmesh.bundle");
}

TEST_F(CoreUtil, ASettingIsTheLastLineStartingWithItsKeyCutAtACommentOrLineEnd) {
  struct Case {
    const char* content;
    const char* ip;
  } cases[] = {
      {"ip=10.1.2.3;set in Setup\n", "10.1.2.3"},
      {"ipx=1.1.1.1\n ip=2.2.2.2\nip =3.3.3.3\n", ""},
      {"ip=1.1.1.1\nip=2.2.2.2\r\n", "2.2.2.2"},
      {"IP=4.4.4.4\n", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(gm::cfg_value(file(c.content), "ip"), c.ip) << c.content;
  }
  EXPECT_EQ(gm::cfg_value(home_.path() + "/missing.cfg", "ip"), "");
}

TEST_F(CoreUtil, SettingALineReplacesEveryLineOfTheKeyAndKeepsTheRest) {
  const std::string p = file("; Gainmesh\nip=1.1.1.1\nbank=LCL\nip=2.2.2.2\nlast=1");
  ASSERT_TRUE(gm::cfg_set_line(p, "ip", "9.9.9.9"));
  EXPECT_EQ(read_file(p), "; Gainmesh\nip=9.9.9.9\nbank=LCL\nip=9.9.9.9\nlast=1");
  ASSERT_TRUE(gm::cfg_set_line(p, "hint", "5.5.5.5"));
  EXPECT_EQ(read_file(p), "; Gainmesh\nip=9.9.9.9\nbank=LCL\nip=9.9.9.9\nlast=1\nhint=5.5.5.5\n")
      << "an unended last line keeps its own line";

  // The same value again writes nothing: the file is not replaced.
  struct stat before {};
  struct stat after {};
  ASSERT_EQ(stat(p.c_str(), &before), 0);
  ASSERT_TRUE(gm::cfg_set_line(p, "hint", "5.5.5.5"));
  ASSERT_EQ(stat(p.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);

  const std::string fresh = home_.path() + "/new.cfg";
  ASSERT_TRUE(gm::cfg_set_line(fresh, "resync", "lv1"));
  EXPECT_EQ(read_file(fresh), "resync=lv1\n");
  EXPECT_FALSE(gm::cfg_set_line("", "resync", "lv1"));
  EXPECT_FALSE(gm::cfg_set_line(home_.path() + "/no/such/dir/x.cfg", "a", "b"));

  // A value that matches only an earlier line of its key is still written: readers take the last.
  const std::string twice = file("ip=1.1.1.1\nip=2.2.2.2\n");
  ASSERT_TRUE(gm::cfg_set_line(twice, "ip", "1.1.1.1"));
  EXPECT_EQ(gm::cfg_value(twice, "ip"), "1.1.1.1");
  // A setting that would not read back as given is refused, and the file left alone.
  EXPECT_FALSE(gm::cfg_set_line(twice, "ip", "1.1.1.1\nconsole=x"));
  EXPECT_EQ(read_file(twice), "ip=1.1.1.1\nip=1.1.1.1\n");
}

TEST_F(CoreUtil, AWholeFileWriteKeepsTheModeAndLeavesNoTemporaryFile) {
  const std::string p = file("old");
  ASSERT_EQ(chmod(p.c_str(), 0600), 0);
  ASSERT_TRUE(gm::write_text(p, "new"));
  struct stat st {};
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string q = home_.path() + "/fresh";
  ASSERT_TRUE(gm::write_text(q, "x"));
  ASSERT_EQ(stat(q.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(read_file(p), "new");
  EXPECT_EQ(system(("ls -a '" + home_.path() + "' | grep -c part >/dev/null").c_str()) != 0, true)
      << "no temporary file is left";

  std::string out = "kept";
  EXPECT_FALSE(gm::read_file(p, out, 2));
  EXPECT_EQ(out, "kept");
  EXPECT_TRUE(gm::read_file(p, out, 3));
  EXPECT_EQ(out, "new");
}

TEST_F(CoreUtil, SettingALineHoldsTheLockBesideTheFileAndWaitsForItAtMostTwoSeconds) {
  const std::string p = file("ip=1.1.1.1\n");
  const mode_t old_mask = umask(077);
  EXPECT_TRUE(gm::cfg_set_line(p, "ip", "2.2.2.2"));
  umask(old_mask);
  struct stat st {};
  ASSERT_EQ(stat((p + ".lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u) << "any user of the bundle can open the lock file";

  const gmtest::HeldCfgLock module(p);  // a module that hangs while holding it
  ASSERT_GE(module.fd(), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(gm::cfg_set_line(p, "ip", "3.3.3.3"));
  const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
  EXPECT_NEAR(waited.count(), 2.75, 0.75) << "seconds waited for the lock";
  EXPECT_EQ(read_file(p), "ip=2.2.2.2\n");
  EXPECT_THAT(home_.app_log(),
              testing::HasSubstr("could not lock " + p + ".lock within 2 s - ip=3.3.3.3 not saved"));

  // A link planted at the lock's name is not followed: the edit fails and nothing is made there.
  const std::string q = home_.write("t.cfg", "a=1\n");
  ASSERT_EQ(symlink((home_.path() + "/made").c_str(), (q + ".lock").c_str()), 0);
  EXPECT_FALSE(gm::cfg_set_line(q, "a", "2"));
  EXPECT_FALSE(gmtest::file_exists(home_.path() + "/made"));
}

TEST_F(CoreUtil, AnEditWaitingAcrossABundleSwapWaitsForTheLockOfTheNewFile) {
  const std::string dir = home_.path() + "/MacOS", p = dir + "/wing.cfg";
  home_.write("MacOS/wing.cfg", "a=1\n");
  auto old_lock = std::make_unique<gm::SettingsLock>(p);
  ASSERT_TRUE(old_lock->locked());
  std::thread edit([&] { EXPECT_TRUE(gm::cfg_set_line(p, "a", "2")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // A new bundle is swapped in, and someone edits its file: the old lock no longer counts.
  ASSERT_EQ(rename(dir.c_str(), (dir + ".old").c_str()), 0);
  home_.write("MacOS/wing.cfg", "a=new\n");
  auto new_lock = std::make_unique<gm::SettingsLock>(p);
  ASSERT_TRUE(new_lock->locked());
  old_lock.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(read_file(p), "a=new\n") << "the edit waits for the new lock";
  new_lock.reset();
  edit.join();
  EXPECT_EQ(read_file(p), "a=2\n");
  EXPECT_EQ(read_file(dir + ".old/wing.cfg"), "a=1\n");
}

TEST_F(CoreUtil, TheLogRollsOverAboveOneMebibyteOnly) {
  const std::string dir = home_.logs_dir();
  gm::logf("first %d", 1);
  const std::string log = dir + "/gainmesh-app.log";
  ASSERT_TRUE(gmtest::file_exists(log));
  EXPECT_NE(read_file(log).find("  first 1\n"), std::string::npos);
  EXPECT_EQ(read_file(log)[4], '-');

  ASSERT_EQ(truncate(log.c_str(), 1048576), 0);
  gm::logf("at the limit");
  EXPECT_FALSE(gmtest::file_exists(dir + "/gainmesh-app.1.log"));
  ASSERT_EQ(truncate(log.c_str(), 1048577), 0);
  gm::logf("over it");
  EXPECT_TRUE(gmtest::file_exists(dir + "/gainmesh-app.1.log"));
  EXPECT_EQ(read_file(log).substr(25), "over it\n");

  setenv("GAINMESH_HOME", (home_.path() + "/other").c_str(), 1);
  setenv("GAINMESH_LOG_STDERR", "1", 1);
  gm::logf("to stderr");
  unsetenv("GAINMESH_LOG_STDERR");
  EXPECT_FALSE(gmtest::file_exists(home_.path() + "/other")) << "no log folder is made";
}

}  // namespace
