// The built wing module as the loader sees it: opened with dlopen, driven through its
// descriptor with a test host, observed through its log lines and its status file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <tuple>

#include "module/module_test_util.h"
#include "support/eventually.h"
#include "support/host_harness.h"
#include "support/loopback.h"
#include "support/status_file.h"
#include "support/temp_home.h"

namespace {

using namespace gmtest;
using Clock = std::chrono::steady_clock;

// The first word of every line a shell command prints.
std::set<std::string> first_words(const std::string& cmd) {
  std::set<std::string> words;
  FILE* p = popen(cmd.c_str(), "r");
  char line[512];
  while (p && std::fgets(line, sizeof line, p)) {
    if (const char* word = strtok(line, " \t\n")) words.insert(word);
  }
  if (p) pclose(p);
  return words;
}

TEST(ModuleBinary, ExportsOnlyTheEntryAndLinksOnlySystemLibraries) {
  const std::string lib = GM_WING_DYLIB;
  EXPECT_NE(lib.find("/Gainmesh.app/Contents/Library/Payload/modules/wing-3.2.0.dylib"),
            std::string::npos);
  EXPECT_EQ(first_words("nm -D --defined-only --format=posix '" + lib + "'"),
            std::set<std::string>{"gm_module_entry"});
  const auto needed = first_words("objdump -p '" + lib + "' | awk '$1 == \"NEEDED\" {print $2}'");
  EXPECT_FALSE(needed.empty());
  for (const std::string& name : needed) {
    bool system = false;
    for (const char* prefix : {"libc.so", "libm.so", "libstdc++.so", "libgcc_s.so", "libpthread.so",
                               "libdl.so", "ld-linux", "libasan.so", "libubsan.so", "libtsan.so"}) {
      system |= name.rfind(prefix, 0) == 0;
    }
    EXPECT_TRUE(system) << name;
  }
}

TEST(ModuleEntry, HandsOutTheDescriptorOnlyForAbiThree) {
  ModuleLib lib;
  ASSERT_NE(lib.entry(), nullptr);
  EXPECT_EQ(lib.entry()(2), nullptr);
  EXPECT_EQ(lib.entry()(4), nullptr);
  const GmModule* m = lib.entry()(3);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(std::tuple(m->abi, m->size, std::string(m->name), std::string(m->version)),
            std::tuple(3u, 104u, "wing", "3.2.0"));
  EXPECT_TRUE(m->start && m->stop && m->attach && m->set_gain && m->set_phantom && m->has_preamp &&
              m->min && m->max && m->step && m->recall);
}

class ModuleRun : public TempHomeTest {
 protected:
  void SetUp() override {
    // Every run asks one loopback address of its own, so the module never searches the network.
    cfg_path_ = home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg",
                            "watch=8\nip=" + desk_ip_ + "\n");
    host_.set_cfg_path(wide(cfg_path_));
    m_ = lib_.module();
    ASSERT_NE(m_, nullptr);
  }
  void TearDown() override { host_.release_background_logs(); }

  ModuleLib lib_;
  FakeHost host_;
  const GmModule* m_ = nullptr;
  std::string desk_ip_ = unique_loopback();
  std::string cfg_path_;
  WingGainIface iface_{};
};

TEST_F(ModuleRun, StartsOnlyForItsAbiPublishesAndStopsCleanly) {
  GmHost other = *host_.table();
  other.abi = 4;
  EXPECT_EQ(m_->start(&other), 0);
  EXPECT_EQ(m_->start(nullptr), 0);
  EXPECT_TRUE(host_.lines().empty());
  EXPECT_FALSE(file_exists(home_.run_dir() + "/GainmeshStatus"));

  ASSERT_EQ(m_->start(host_.table()), 1);
  m_->attach(&iface_);
  EXPECT_TRUE(host_.has_line("---- wing module 3.2.0 started by the loader ----"));
  gmtest::expect_lines(host_, {"[shm] status block published as Local\\GainmeshStatus",
                               "[bridge] searching for a Behringer WING ..."});
  EXPECT_TRUE(host_.wait_for_line("[bridge] discovery sweep 1 ...", 2000));
  {
    StatusFile blk(home_.run_dir());
    ASSERT_TRUE(blk.ok());
    // (Its version and zeroed fields: StatusBlock.FreshBlock...)
    EXPECT_EQ(blk.file_size(), 262144);
    EXPECT_EQ(std::memcmp(blk.bytes(), "GNGW", 4), 0);
  }

  const auto t0 = Clock::now();
  EXPECT_EQ(m_->stop(), 1);
  EXPECT_LT(ms_since(t0), 3500);
  // The stop's own lines, in order; a thread may still log between the first two.
  const auto lines = host_.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "---- wing module stopped ----");
  EXPECT_EQ(lines[lines.size() - 2], "---- threads stopped ----");
  const auto shutting =
      std::find(lines.begin(), lines.end(), "---- shutting down: stopping threads ----");
  EXPECT_LT(shutting - lines.begin(), static_cast<long>(lines.size()) - 2);

  // (What closing the block clears: StatusBlock.FreshBlock...)
  // Re-armed: a second start runs again, here under an instance tag that names its file.
  host_.set_instance_tag(L"-x32");
  ASSERT_EQ(m_->start(host_.table()), 1);
  EXPECT_TRUE(host_.has_line("[shm] status block published as Local\\GainmeshStatus-x32"));
  EXPECT_TRUE(StatusFile(home_.run_dir(), "-x32").ok());
  EXPECT_TRUE(eventually([&] { return host_.count_lines("[bridge] discovery sweep 1 ...") == 2; }));
  EXPECT_EQ(m_->stop(), 1);
}

TEST_F(ModuleRun, StopGivesUpOnAHungThreadAfterThreeSecondsAndKeepsSayingSo) {
  host_.hold_background_logs();  // the discover thread's first log line never returns
  ASSERT_EQ(m_->start(host_.table()), 1);
  m_->attach(&iface_);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const auto t0 = Clock::now();
  EXPECT_EQ(m_->stop(), 0);
  const long waited = ms_since(t0);
  EXPECT_GE(waited, 2900);
  EXPECT_LT(waited, 10000);
  gmtest::expect_lines(host_, {"---- a thread did not come back; not re-arming ----",
                               "---- wing module stopped - a thread is still running, the loader "
                               "keeps this module mapped ----"});
  EXPECT_STREQ(StatusFile(home_.run_dir())->status, "Module stopped");

  // Not re-armed: a later start runs nothing new, and every stop keeps returning 0.
  EXPECT_EQ(m_->start(host_.table()), 1);
  EXPECT_EQ(m_->stop(), 0);
  host_.release_background_logs();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace
