// The built wing module as the loader sees it: opened with dlopen, driven through its
// descriptor with a test host, observed through its log lines and its status file.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "support/host_harness.h"
#include "support/loopback.h"
#include "support/status_file.h"
#include "support/temp_home.h"

namespace {

using namespace gmtest;
using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// The dynamic symbols a shared object defines, and the libraries it needs.
struct DynamicInfo {
  std::set<std::string> defined;
  std::set<std::string> needed;
};

DynamicInfo read_dynamic(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  DynamicInfo info;
  if (elf.size() < sizeof(Elf64_Ehdr) || std::memcmp(elf.data(), ELFMAG, SELFMAG) != 0) return info;
  auto eh = reinterpret_cast<const Elf64_Ehdr*>(elf.data());
  auto sh = reinterpret_cast<const Elf64_Shdr*>(elf.data() + eh->e_shoff);
  for (int i = 0; i < eh->e_shnum; ++i) {
    const char* strtab = elf.data() + sh[sh[i].sh_link].sh_offset;
    if (sh[i].sh_type == SHT_DYNSYM) {
      auto sym = reinterpret_cast<const Elf64_Sym*>(elf.data() + sh[i].sh_offset);
      for (size_t k = 0; k < sh[i].sh_size / sizeof(Elf64_Sym); ++k) {
        const int bind = ELF64_ST_BIND(sym[k].st_info);
        if (sym[k].st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK)) {
          info.defined.insert(strtab + sym[k].st_name);
        }
      }
    } else if (sh[i].sh_type == SHT_DYNAMIC) {
      auto dyn = reinterpret_cast<const Elf64_Dyn*>(elf.data() + sh[i].sh_offset);
      for (size_t k = 0; k < sh[i].sh_size / sizeof(Elf64_Dyn); ++k) {
        if (dyn[k].d_tag == DT_NEEDED) info.needed.insert(strtab + dyn[k].d_un.d_val);
      }
    }
  }
  return info;
}

TEST(ModuleBinary, ExportsOnlyTheEntryAndLinksOnlySystemLibraries) {
  const DynamicInfo info = read_dynamic(GM_WING_DYLIB);
  EXPECT_EQ(info.defined, std::set<std::string>{"gm_module_entry"});
  for (const auto& lib : info.needed) {
    const bool system = lib.rfind("libc.so", 0) == 0 || lib.rfind("libm.so", 0) == 0 ||
                        lib.rfind("libstdc++.so", 0) == 0 || lib.rfind("libgcc_s.so", 0) == 0 ||
                        lib.rfind("libpthread.so", 0) == 0 || lib.rfind("libdl.so", 0) == 0 ||
                        lib.rfind("ld-linux", 0) == 0 || lib.rfind("libasan.so", 0) == 0 ||
                        lib.rfind("libubsan.so", 0) == 0 || lib.rfind("libtsan.so", 0) == 0;
    EXPECT_TRUE(system) << lib;
  }
  EXPECT_NE(std::string(GM_WING_DYLIB).find("/Gainmesh.app/Contents/Library/Payload/modules/"
                                            "wing-3.2.0.dylib"),
            std::string::npos);
}

TEST(ModuleEntry, HandsOutTheDescriptorOnlyForAbiThree) {
  ModuleLib lib;
  ASSERT_NE(lib.entry(), nullptr);
  EXPECT_EQ(lib.entry()(2), nullptr);
  EXPECT_EQ(lib.entry()(4), nullptr);
  const GmModule* m = lib.entry()(3);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->abi, 3u);
  EXPECT_EQ(m->size, 104u);
  EXPECT_STREQ(m->name, "wing");
  EXPECT_STREQ(m->version, "3.2.0");
  for (auto fn : {(void*)m->start, (void*)m->stop, (void*)m->attach, (void*)m->set_gain,
                  (void*)m->set_phantom, (void*)m->has_preamp, (void*)m->min, (void*)m->max,
                  (void*)m->step, (void*)m->recall}) {
    EXPECT_NE(fn, nullptr);
  }
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

TEST_F(ModuleRun, RefusesAHostOfAnotherAbi) {
  GmHost other = *host_.table();
  other.abi = 4;
  EXPECT_EQ(m_->start(&other), 0);
  EXPECT_EQ(m_->start(nullptr), 0);
  EXPECT_TRUE(host_.lines().empty());
  EXPECT_FALSE(file_exists(home_.run_dir() + "/GainmeshStatus"));
}

TEST_F(ModuleRun, StartsPublishesAndStopsCleanly) {
  ASSERT_EQ(m_->start(host_.table()), 1);
  m_->attach(&iface_);
  EXPECT_TRUE(host_.has_line("---- wing module 3.2.0 started by the loader ----"));
  EXPECT_TRUE(host_.has_line("[cfg] using " + cfg_path_));
  EXPECT_TRUE(host_.has_line("[shm] status block published as Local\\GainmeshStatus"));
  EXPECT_TRUE(host_.has_line("[bridge] searching for a Behringer WING ..."));
  EXPECT_TRUE(host_.wait_for_line("[bridge] discovery sweep 1 ...", 2000));
  {
    StatusFile blk(home_.run_dir());
    ASSERT_TRUE(blk.ok());
    EXPECT_EQ(blk.file_size(), 262144);
    EXPECT_EQ(blk->magic, 0x57474E47u);
    EXPECT_EQ(std::memcmp(blk.bytes(), "GNGW", 4), 0);
    EXPECT_EQ(blk->version, 17u);
    EXPECT_EQ(blk->connected, 0u);
  }

  const auto t0 = Clock::now();
  EXPECT_EQ(m_->stop(), 1);
  EXPECT_LT(elapsed_ms(t0), 3500);
  // The stop's own lines, in order; a thread may still log between the first two.
  const auto lines = host_.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "---- wing module stopped ----");
  EXPECT_EQ(lines[lines.size() - 2], "---- threads stopped ----");
  const auto shutting = std::find(lines.begin(), lines.end(), "---- shutting down: stopping threads ----");
  EXPECT_LT(shutting - lines.begin(), static_cast<long>(lines.size()) - 2);

  StatusFile blk(home_.run_dir());
  ASSERT_TRUE(blk.ok());
  EXPECT_STREQ(blk->status, "Module stopped");
  EXPECT_EQ(blk->connected, 0u);
  EXPECT_EQ(blk->injected, 0u);

  // Calls after the stop find no host: nothing is logged.
  const size_t before = host_.lines().size();
  m_->set_gain(0, 12.0);
  EXPECT_EQ(host_.lines().size(), before);

  // Re-armed: a second start runs again.
  ASSERT_EQ(m_->start(host_.table()), 1);
  EXPECT_TRUE(host_.wait_for_line("[bridge] discovery sweep 1 ...", 2000));
  EXPECT_EQ(m_->stop(), 1);
}

TEST_F(ModuleRun, NamesTheStatusFileAfterTheInstanceTag) {
  host_.set_instance_tag(L"-x32");
  ASSERT_EQ(m_->start(host_.table()), 1);
  EXPECT_TRUE(host_.has_line("[shm] status block published as Local\\GainmeshStatus-x32"));
  EXPECT_TRUE(StatusFile(home_.run_dir(), "-x32").ok());
  EXPECT_EQ(m_->stop(), 1);
}

TEST_F(ModuleRun, StopGivesUpOnAHungThreadAfterThreeSecondsAndKeepsSayingSo) {
  host_.hold_background_logs();  // the discover thread's first log line never returns
  ASSERT_EQ(m_->start(host_.table()), 1);
  m_->attach(&iface_);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const auto t0 = Clock::now();
  EXPECT_EQ(m_->stop(), 0);
  const long waited = elapsed_ms(t0);
  EXPECT_GE(waited, 2900);
  EXPECT_LT(waited, 10000);
  EXPECT_TRUE(host_.has_line("---- a thread did not come back; not re-arming ----"));
  EXPECT_TRUE(host_.has_line("---- wing module stopped - a thread is still running, the loader "
                             "keeps this module mapped ----"));
  EXPECT_STREQ(StatusFile(home_.run_dir())->status, "Module stopped");

  // Not re-armed: a later start runs nothing new, and every stop keeps returning 0.
  EXPECT_EQ(m_->start(host_.table()), 1);
  EXPECT_EQ(m_->stop(), 0);
  host_.release_background_logs();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

TEST_F(ModuleRun, AnswersDefaultsAndHoldsLv1ValuesBeforeTheDeskIsRead) {
  ASSERT_EQ(m_->start(host_.table()), 1);
  m_->attach(&iface_);
  EXPECT_EQ(m_->has_preamp(0), 1);
  EXPECT_EQ(m_->has_preamp(63), 1);
  EXPECT_EQ(m_->has_preamp(64), 0);
  EXPECT_EQ(m_->has_preamp(-1), 0);
  EXPECT_DOUBLE_EQ(m_->min(0), 0.0);
  EXPECT_DOUBLE_EQ(m_->max(0), 45.0);
  EXPECT_DOUBLE_EQ(m_->step(0), 2.5);
  EXPECT_DOUBLE_EQ(m_->max(200), 45.0);

  m_->set_gain(0, 10.0);
  m_->set_phantom(1, 1);
  EXPECT_TRUE(host_.has_line(
      "SET gain ch=0 10.0 dB  [desk value not read yet - LV1 is still starting, not sent]"));
  EXPECT_TRUE(
      host_.has_line("[48V] ch=1 1 not sent: desk value not read yet - LV1 is still starting"));

  double gain[64] = {};
  int phantom[64] = {}, present[64] = {};
  present[0] = 1;
  m_->recall(gain, phantom, present);
  EXPECT_TRUE(host_.has_line("[recall] LV1 opened a session with Gainmesh preamp values - held "
                             "until the console has been read"));
  EXPECT_TRUE(host_.pushes().empty());
  EXPECT_EQ(StatusFile(home_.run_dir())->sets, 0u);
  EXPECT_EQ(m_->stop(), 1);
}

TEST_F(ModuleRun, SessionRecallOffIsRespected) {
  home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg",
              "session_recall=OFF\nip=" + desk_ip_ + "\n");
  ASSERT_EQ(m_->start(host_.table()), 1);
  double gain[64] = {};
  int phantom[64] = {}, present[64] = {};
  m_->recall(gain, phantom, present);
  EXPECT_TRUE(host_.has_line("[recall] LV1 opened a session with Gainmesh preamp values - not "
                             "applied (session_recall=off)"));
  EXPECT_EQ(m_->stop(), 1);
}

}  // namespace
