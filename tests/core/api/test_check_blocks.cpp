// The loader's live status turned into setup messages. The test process stands in for LV1: it
// holds the loader block open as LV1 does, and LV1's start is put in the past instead of waiting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

#include "core_state.h"
#include "loader_layout.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

constexpr const char* kDidNotLoad =
    "Gainmesh did not load into eMotion LV1, so LV1 runs without preamp control. Save support "
    "file\xE2\x80\xA6 shows why.";
constexpr const char* kReopen =
    "Gainmesh is installed. It starts with LV1 \xE2\x80\x94 close and reopen LV1 once.";

class CheckBlocks : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    gm::check_blocks(gm::Lv1{});  // forget the LV1 of an earlier test
    gm::set_msg("");
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
  }
  // Gainmesh installed, its files written `age_s` seconds ago.
  void install(long age_s) {
    const std::string plist =
        home_.write("IO Modules/Gainmesh.bundle/Contents/Info.plist",
                    "<key>CFBundleIdentifier</key><string>org.ambervale.gainmesh.loader</string>");
    const std::string loader =
        home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/Gainmesh", "");
    const timespec t[2] = {{time(nullptr) - age_s, 0}, {time(nullptr) - age_s, 0}};
    utimensat(AT_FDCWD, plist.c_str(), t, 0);
    utimensat(AT_FDCWD, loader.c_str(), t, 0);
  }
  // The loader block, held open by "LV1" (this process).
  void publish(const GmLoaderStatus& block) {
    const std::string path =
        home_.write("Library/Application Support/Gainmesh/run/GainmeshLoader",
                    std::string(reinterpret_cast<const char*>(&block), sizeof block));
    if (fd_ < 0) fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  // LV1 as this process, started `up_s` seconds ago.
  static gm::Lv1 lv1(long up_s, uint32_t pid = static_cast<uint32_t>(getpid())) {
    gm::Lv1 l;
    l.pid = pid;
    l.up_ms = up_s * 1000;
    l.start_s = time(nullptr) - up_s;
    return l;
  }
  static bool blocked() {
    std::lock_guard<std::mutex> lock(gm::core_mutex());
    return gm::core_state().loader_blocked;
  }

  int fd_ = -1;
};

TEST_F(CheckBlocks, NoLoaderFortyFiveSecondsAfterLv1StartedIsToldOncePerLv1) {
  install(600);
  gm::check_blocks(lv1(30));
  EXPECT_EQ(gm::current_msg(), "") << "30 s is still within the grace";
  gm::check_blocks(lv1(46));
  EXPECT_EQ(gm::current_msg(), kDidNotLoad);
  EXPECT_TRUE(blocked());
  gm::set_msg("");
  gm::check_blocks(lv1(47));
  EXPECT_EQ(gm::current_msg(), "") << "told once";
  gm::check_blocks(lv1(46, 1));
  EXPECT_EQ(gm::current_msg(), kDidNotLoad) << "a new LV1 process is told again";

  // Installed after LV1 started: LV1 has to be reopened once.
  gm::check_blocks(gm::Lv1{});
  EXPECT_FALSE(blocked()) << "LV1 closed";
  install(10);
  gm::check_blocks(lv1(60));
  EXPECT_EQ(gm::current_msg(), kReopen);
  EXPECT_FALSE(blocked());
}

TEST_F(CheckBlocks, ARefusedModuleIsToldOncePerNewCounter) {
  install(600);
  GmLoaderStatus block{};
  block.magic = GM_LOADER_MAGIC;
  block.size = sizeof block;
  GmLoaderConsole& wing = block.consoles[0];
  std::strcpy(wing.key, "wing");
  std::strcpy(wing.running_version, "3.2.0");
  std::strcpy(wing.module_file, "wing-3.3.0.dylib");
  wing.load_error = 4;
  wing.error_code = 7;
  publish(block);
  gm::check_blocks(lv1(120));
  EXPECT_EQ(gm::current_msg(),
            "The WING module wing-3.3.0.dylib would not load (error 7). "
            "Gainmesh keeps running the version it had.");
  gm::set_msg("");
  gm::check_blocks(lv1(121));
  EXPECT_EQ(gm::current_msg(), "") << "the same counter is told once";

  wing.load_error = 5;
  wing.running_version[0] = '\0';
  publish(block);
  gm::check_blocks(lv1(122));
  EXPECT_EQ(gm::current_msg(),
            "The WING module wing-3.3.0.dylib would not load (error 7). That "
            "console runs without Gainmesh until it loads.");
}

}  // namespace
