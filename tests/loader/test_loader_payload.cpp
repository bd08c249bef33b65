// The built payload "Gainmesh" as LV1 loads it: dlopen from an installed bundle in a temporary IO
// Modules folder, lv1_io_module_entry with a fake LV1, and the signed built wing module running
// behind it. Observed through gainmesh.log, the loader status block and LV1's services.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <tuple>

#include "base/modules_changed.h"
#include "loader_test_util.h"
#include "lv1_io.h"
#include "support/eventually.h"
#include "support/loopback.h"

namespace {

using namespace loadertest;
using gmtest::console_summary;
using gmtest::eventually;
constexpr std::chrono::seconds kWait{5};

// LV1's side: a WING card in a rack slot with its gain structure; no X32 card.
struct FakeLv1 {
  Lv1HostApi api{};
  WingGainIface iface{};
  std::atomic<int> wing_in_slot{1};
  std::atomic<int> gain_iface_calls{0};

  FakeLv1() {
    api.abi = LV1_IO_ABI;
    api.ctx = this;
    api.gain_iface = [](void* ctx, int type) -> WingGainIface* {
      auto* self = static_cast<FakeLv1*>(ctx);
      self->gain_iface_calls.fetch_add(1);
      return type == 0 && self->wing_in_slot.load() ? &self->iface : nullptr;
    };
    api.device_mac = [](void*, int type, uint8_t mac[6]) {
      static const uint8_t kMac[6] = {0x00, 0x1d, 0xc1, 0x01, 0x02, 0x03};
      if (type != 0) return false;
      std::memcpy(mac, kMac, 6);
      return true;
    };
    api.card_in_slot = [](void* ctx, int type) {
      return type == 0 ? static_cast<FakeLv1*>(ctx)->wing_in_slot.load() : 0;
    };
    api.card_kind = [](void*, int type) { return type == 0 ? 7u : 0u; };
    api.extra_cards = [](void*, int type) { return type == 1 ? 2u : 0u; };
  }
};

class Payload : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    folder_ = home_.io_modules_dir() + "/Gainmesh.bundle/Contents/MacOS";
    copy(GM_LOADER_PAYLOAD, folder_ + "/Gainmesh");
    copy(GM_WING_DYLIB, modules() + "/wing-3.2.0.dylib");
    copy(std::string(GM_WING_DYLIB) + ".sig", modules() + "/wing-3.2.0.dylib.sig");
    home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg",
                "ip=" + gmtest::unique_loopback() + "\n");
    gmtest::make_dirs(home_.io_modules_dir() + "/SoundGrid Wing Control.bundle/Contents");
    // Each test loads its own copy: a fresh loader instance.
    handle_ = dlopen((folder_ + "/Gainmesh").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    entry_ = reinterpret_cast<Lv1IoModuleEntryFn>(dlsym(handle_, LV1_IO_ENTRY_SYMBOL));
    ASSERT_NE(entry_, nullptr);
  }
  void TearDown() override {
    if (io_) io_->unload();
  }

  std::string modules() const { return folder_ + "/modules"; }
  std::string log() const { return gmtest::read_file(home_.logs_dir() + "/gainmesh.log"); }
  bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }
  GmLoaderConsole wing() const { return loader_block(home_.run_dir()).consoles[0]; }
  std::string running() const {  // "?" without a block
    const GmLoaderStatus b = loader_block(home_.run_dir());
    return b.magic == GM_LOADER_MAGIC ? b.consoles[0].running_version : "?";
  }
  // A copy of the built module under a newer name, signed or not.
  void add_version(const std::string& version, bool signed_ok) {
    const std::string path = modules() + "/wing-" + version + ".dylib";
    copy(GM_WING_DYLIB, path);
    if (signed_ok) sign(path);
  }

  std::string folder_;
  void* handle_ = nullptr;
  Lv1IoModuleEntryFn entry_ = nullptr;
  const Lv1IoModule* io_ = nullptr;
  FakeLv1 lv1_;
};

TEST_F(Payload, RunsTheSignedModuleForAnLv1ItCanServeAndForwardsLv1ToIt) {
  EXPECT_EQ(entry_(nullptr), nullptr);
  Lv1HostApi other = lv1_.api;
  other.abi = LV1_IO_ABI + 1;
  EXPECT_EQ(entry_(&other), nullptr);
  EXPECT_FALSE(gmtest::file_exists(home_.run_dir() + "/GainmeshLoader"));

  io_ = entry_(&lv1_.api);
  ASSERT_NE(io_, nullptr);

  // The module started with this type's settings path, and logs time-stamped lines.
  const std::regex started(
      R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  \[wing\] ---- wing module 3\.2\.0 started by the loader ----\n)");
  EXPECT_TRUE(std::regex_search(log(), started)) << log();
  EXPECT_TRUE(logged("[wing] [cfg] using " + folder_ + "/wing.cfg"));
  EXPECT_TRUE(eventually([&] { return logged("[loader] wing: attached to LV1's device"); }, kWait));
  EXPECT_GT(lv1_.gain_iface_calls.load(), 0);

  // The block's layout is StatusBlockTest's (test_loader_rules.cpp); here, what it says.
  const GmLoaderStatus blk = loader_block(home_.run_dir());
  EXPECT_EQ(console_summary(blk.consoles[0]),
            "wing on=1 present=1 slot=1 kind=7 run=3.2.0 err=0/0 file=");
  EXPECT_EQ(console_summary(blk.consoles[1]),
            "x32 on=1 present=0 slot=0 kind=0 run= err=0/0 file=");
  EXPECT_EQ(blk.extra_cards[1], 2u);

  // LV1's calls reach the running WING module; the X32 type has none and answers the defaults.
  EXPECT_EQ(io_->has_preamp(0, 0), 1);
  io_->set_gain(0, 0, 10.0);
  EXPECT_TRUE(logged("[wing] SET gain ch=0 10.0 dB"));
  EXPECT_EQ(io_->has_preamp(1, 0), 0);
  EXPECT_EQ(std::tuple(io_->min(1, 0), io_->max(1, 0), io_->step(1, 0)),
            std::tuple(0.0, 45.0, 2.5));
  EXPECT_EQ(io_->has_preamp(5, 0), 0);

  // The rack changes: the block follows without a rescan being due.
  lv1_.wing_in_slot.store(0);
  io_->rack_changed();
  EXPECT_TRUE(eventually([&] { return loader_block(home_.run_dir()).consoles[0].in_slot == 0; },
                         std::chrono::seconds(1)));

  const Lv1IoModule* table = io_;
  io_ = nullptr;
  table->unload();
  EXPECT_TRUE(logged("[wing] ---- wing module stopped ----"));
  EXPECT_EQ(running(), "");
  EXPECT_EQ(table->has_preamp(0, 0), 0) << "after unload LV1 gets the defaults";
}

// Inside a running LV1 the rig takes up a newer module (CoreLiveStatus), refuses a badly signed
// one (test_lv1host_loader.cpp) and switches the type off (InstallRig, CoreLiveStatus). Here: what
// the loader keeps between rescans, and a rescan of its own.
TEST_F(Payload, KeepsRefusalsAcrossRescansAndRescansByItself) {
  io_ = entry_(&lv1_.api);
  ASSERT_NE(io_, nullptr);
  ASSERT_EQ(running(), "3.2.0");
  std::string err;

  add_version("3.11.0", false);
  ASSERT_TRUE(gm_base::post_modules_changed(err)) << err;
  EXPECT_TRUE(eventually([&] { return wing().load_error != 0; }, kWait));
  EXPECT_EQ(console_summary(wing()),
            "wing on=1 present=1 slot=1 kind=7 run=3.2.0 err=1/1 file=wing-3.11.0.dylib");
  const uint32_t rescans_before = rescans(loader_block(home_.run_dir()));

  // Found by a rescan of its own; the unchanged unsigned file is not refused again.
  add_version("3.12.0", true);
  EXPECT_TRUE(eventually([&] { return running() == "3.12.0"; }, kWait));
  EXPECT_GT(rescans(loader_block(home_.run_dir())), rescans_before);
  EXPECT_EQ(wing().load_error, 1u);
}

}  // namespace
