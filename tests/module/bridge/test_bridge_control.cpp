// Dashboard control requests, posted into the status block the way a client process does and
// served against the virtual WING on a loopback address of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge_cfg.h"
#include "bridge_flags.h"
#include "bridge_patch.h"
#include "bridge_state.h"
#include "bridge_status.h"
#include "desk_wing.h"
#include "module/module_test_util.h"
#include "support/eventually.h"
#include "support/module_fixture.h"
#include "support/status_file.h"
#include "wing_ctl.h"

namespace {

using namespace gmtest;
using namespace std::chrono_literals;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;

// The request half of a control slot.
struct Req {
  uint32_t kind = 0;
  int32_t channel = 0;
  uint32_t arg = 0;
  double value = 0;
  const char* group = "";
  uint32_t input = 0;
};

class ControlRequests : public InProcessModuleTest {
 protected:
  // The settings file, the block as the module maps it and the app's read-only view of it.
  void open_module(const std::string& settings) {
    load_settings(settings);
    ASSERT_TRUE(gm::shm_init());
    view_ = std::make_unique<StatusFile>(home_.run_dir());
    ASSERT_TRUE(view_->ok());
  }
  // Fills the request half of a control slot as the dashboard does, then publishes the sequence.
  // (A request written through another process's mapping: CoreLiveStatus.ASetResync...)
  void post(int slot, uint32_t seq, const Req& r) {
    ASSERT_TRUE(gm::shm_with_block([&](GmConsoleStatus& b) {
      GmCtlSlot& c = b.ctl[slot];
      c.kind = r.kind;
      c.channel = static_cast<uint32_t>(r.channel);
      c.arg = r.arg;
      c.input = r.input;
      c.value = r.value;
      std::memset(c.group, 0, sizeof c.group);
      std::memcpy(c.group, r.group, strnlen(r.group, sizeof c.group));
      __atomic_store_n(&c.seq, seq, __ATOMIC_RELEASE);
    }));
  }
  const GmConsoleStatus& block() const { return **view_; }
  uint32_t answered(int slot) const {
    return __atomic_load_n(&block().ctl[slot].answered, __ATOMIC_ACQUIRE);
  }
  // "<result>: <message>"
  std::string answer(int slot) const {
    const GmCtlSlot& c = block().ctl[slot];
    return std::to_string(c.result) + ": " + std::string(c.message, strnlen(c.message, 96));
  }
  // The module opened, the desk started (`setup` runs at it first) and connected as after
  // adoption and the first read: link up, patch read, first seed done.
  void up(const std::string& settings, const Lines& setup = {}, Lines extra = {}) {
    open_module(settings);
    start_desk(std::move(extra));
    for (const std::string& c : setup) at_desk(c);
    const std::string line = discovery_line();
    gm::DeskFound found{};
    ASSERT_TRUE(gm::wing_parse_reply(line.c_str(), line.size(), ip_.c_str(), &found));
    gm::desk()->adopt(&found);
    ASSERT_TRUE(gm::desk()->start(ip_.c_str()));
    ASSERT_TRUE(eventually([] { return gm::wctl_connected(); }, 5s));
    ASSERT_TRUE(gm::patch_refresh());
    gm::bs().iface = &iface_;
    gm::bs().ready = gm::bs().first_seed_done = true;
    gm::BridgeFlags& f = gm::bridge_flags();
    f.need_seed = f.need_names = f.need_modes = false;
  }
  // A change made at the desk; the pause lets its push arrive before the next read.
  void at_desk(const std::string& command) {
    InProcessModuleTest::at_desk(command, gm::wctl_connected() ? 150 : 0);
  }
  std::string desk_value(const std::string& path) {
    const Lines lines = sim_->cmd("get " + path);
    return sim_->ok() && !lines.empty() ? lines[0] : "?";
  }
  int desk_sets_matching(const std::string& needle) {
    const Lines sets = sim_->sets();
    return static_cast<int>(std::count_if(sets.begin(), sets.end(), [&](const std::string& s) {
      return s.find(needle) != std::string::npos;
    }));
  }

  // Posts r in slot 0 under a new sequence, serves it and returns "<result>: <message>"; then
  // re-reads the stereo modes when asked to, as the watch thread's next cycle does.
  std::string ask(const Req& r) {
    const uint32_t seq = ++seq_;
    post(0, seq, r);
    gm::serve_control_request();
    EXPECT_EQ(answered(0), seq) << "request kind " << r.kind << " was not answered";
    if (gm::bridge_flags().need_modes.exchange(false)) gm::modes_refresh();
    return answer(0);
  }
  // The requests by kind, as the dashboard posts them.
  std::string scan(const char* group) { return ask({.kind = GM_CTL_KIND_SCAN, .group = group}); }
  std::string repatch(int ch, const char* group, uint32_t input) {
    return ask({.kind = GM_CTL_KIND_REPATCH, .channel = ch, .group = group, .input = input});
  }
  std::string gain(int ch, double db) {
    return ask({.kind = GM_CTL_KIND_GAIN, .channel = ch, .value = db});
  }
  std::string phantom(int ch, bool on) {
    return ask(
        {.kind = GM_CTL_KIND_PHANTOM, .channel = ch, .arg = on ? GM_CTL_ARG_PHANTOM_ON : 0u});
  }
  // A negative channel names the input by group and number.
  std::string protect(int ch, bool on, const char* group = "", uint32_t input = 0) {
    return ask({.kind = GM_CTL_KIND_PROTECT,
                .channel = ch,
                .arg = on ? GM_CTL_ARG_PROTECT : 0u,
                .group = group,
                .input = input});
  }
  std::string refresh(const char* group, uint32_t input) {
    return ask({.kind = GM_CTL_KIND_REFRESH, .group = group, .input = input});
  }
  std::string verify(int ch) { return ask({.kind = GM_CTL_KIND_VERIFY, .channel = ch}); }

  std::unique_ptr<StatusFile> view_;
  WingGainIface iface_{};
  uint32_t seq_ = 100;
};

TEST_F(ControlRequests, OneRequestPerCallLowestSequenceFirst) {
  open_module("watch=8\n");
  EXPECT_FALSE(gm::ctl_pending());
  post(2, 20, {.kind = 11});
  post(5, 10, {.kind = 0});
  post(6, 10, {.kind = GM_CTL_KIND_GAIN, .channel = 0, .value = 10});
  post(7, 0, {.kind = 0});  // an empty slot
  EXPECT_TRUE(gm::ctl_pending());

  gm::serve_control_request();
  EXPECT_EQ(answered(5), 10u);
  EXPECT_EQ(answer(5), "2: unknown control op");
  EXPECT_EQ(answered(6), 0u) << "one request per call";
  gm::serve_control_request();
  EXPECT_EQ(answered(6), 10u) << "equal sequences: the lower slot first";
  EXPECT_EQ(answer(6), "3: the desk is not answering");
  EXPECT_EQ(answered(2), 0u);
  gm::serve_control_request();
  EXPECT_EQ(answer(2), "2: unknown control op");
  EXPECT_FALSE(gm::ctl_pending());
  EXPECT_FALSE(gm::bridge_flags().need_modes.load()) << "only a done request asks for modes";

  // A reused slot is served again under its new sequence.
  post(5, 30, {.kind = GM_CTL_KIND_PROTECT, .channel = -1, .arg = 0, .group = "A", .input = 7});
  EXPECT_TRUE(gm::ctl_pending());
  gm::serve_control_request();
  EXPECT_EQ(answered(5), 30u);
  EXPECT_THAT(answer(5), StartsWith("1: ")) << "unprotecting needs no desk";
  EXPECT_TRUE(gm::bridge_flags().need_modes.load());
  EXPECT_EQ(answered(7), 0u);
}

// LCL on this firmware ranges -2.5 .. 45 dB: its top is the 45 dB of the default range, so the
// upper edge checks exactly as for a 0 .. 45 input; its bottom checks the lower edge.
TEST_F(ControlRequests, GainIsCheckedAgainstTheInputsRangeWithinOneHundredth) {
  up("watch=8\n", {}, {"--patch", "MOD:1-7=LCL:1-7,MOD:8=USB:1"});
  ASSERT_DOUBLE_EQ(gm::bridge_gain_max(0), 45.0);

  EXPECT_EQ(gain(0, 45.005), "1: [ctl] gain ch=0 -> 45.0 dB (from the dashboard)");
  EXPECT_TRUE(host_.has_line("[ctl] gain ch=0 -> 45.0 dB (from the dashboard)"));
  EXPECT_EQ(gain(0, 45.02), "2: 45.0 dB is outside this input's range");
  EXPECT_THAT(gain(1, -2.505), StartsWith("1: "));
  EXPECT_EQ(gain(1, -2.52), "2: -2.5 dB is outside this input's range");
  EXPECT_THAT(gain(0, std::nan("")), StartsWith("2: "));
  EXPECT_EQ(gain(8, 10), "2: that channel is out of range");
  EXPECT_EQ(gain(7, 10), "2: this input has no head amp");

  // Before the first seed the bridge holds an unread channel back: not claimed as done.
  gm::bs().first_seed_done = false;
  EXPECT_EQ(gain(2, 10), "2: the desk's values are not read yet - try again in a moment");

  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(desk_sets_matching("/g "), 2) << "only the two accepted gains reached the desk";
  EXPECT_EQ(desk_value("/io/in/LCL/1/g"), "45");
}

TEST_F(ControlRequests, ARepatchIsConfirmedByReadingItBackOrFailsAfterSixReadBacks) {
  up("watch=8\n");
  EXPECT_EQ(repatch(1, "A", 5), "1: [reroute] OK: LV1 in 2 -> A 5");
  expect_lines(host_, {"[reroute] request: LV1 in 2 -> A 5 (card MOD)",
                       "[reroute] before: LV1 in 2 reads LCL 2"});
  EXPECT_EQ(desk_value("/io/out/MOD/2/grp"), "A");
  EXPECT_EQ(desk_value("/io/out/MOD/2/in"), "5");
  EXPECT_STREQ(gm::patch_channel(1).group, "A");
  EXPECT_EQ(gm::patch_channel(1).input, 5);
  EXPECT_TRUE(gm::bridge_flags().need_seed.load());
  EXPECT_TRUE(gm::bridge_flags().need_names.exchange(false));
  EXPECT_FALSE(gm::bs().ch[1].known.load());
  EXPECT_TRUE(gm::find_range("A", nullptr)) << "the new group's range is learned";

  EXPECT_EQ(repatch(1, "a", 5), "1: [reroute] no-op: LV1 in 2 is already on a 5");
  EXPECT_EQ(repatch(1, "A", 65), "2: no target input named");
  EXPECT_EQ(repatch(8, "A", 1), "2: that channel is out of range");

  // A desk that never takes it: six read-backs, then what the card output holds.
  at_desk("set /$syscfg/tcplock 1");
  const int confirms = host_.count_lines("[reroute] confirm ");
  EXPECT_EQ(repatch(1, "LCL", 2), "2: the desk did not confirm the repatch");
  EXPECT_EQ(host_.count_lines("[reroute] confirm "), confirms + 6);
  expect_lines(host_, {"[reroute] confirm 6/6: patch_read_one=0, now A 5",
                       "[reroute] readback grp = 'A'", "[reroute] readback in  = '5'",
                       "[reroute] FAILED: desk did not confirm LCL 2 for LV1 in 2"});
  EXPECT_GE(desk_sets_matching("/io/out/MOD/2/grp"), 2) << "the re-patch was sent";
  EXPECT_STREQ(gm::patch_channel(1).group, "A");
  EXPECT_FALSE(gm::bridge_flags().need_names.load());
}

TEST_F(ControlRequests, ProtectingAnInputIsRefusedWhileIts48VIsOn) {
  up("watch=8\n", {"set /io/in/LCL/3/vph 1"});
  EXPECT_EQ(protect(2, true), "2: switch 48V off at LCL 3 first, then protect it");
  EXPECT_FALSE(gm::cfg_is_protected("LCL", 3));
  at_desk("set /io/in/LCL/3/vph 0");
  EXPECT_THAT(protect(2, true), StartsWith("1: "));
  EXPECT_TRUE(gm::cfg_is_protected("LCL", 3));

  EXPECT_EQ(phantom(2, true),
            "2: LCL 3 is on the 48V protect list - 48V is never switched on here");
  EXPECT_EQ(desk_sets_matching("/vph"), 0) << "nothing was sent for a protected input";

  EXPECT_EQ(protect(40, true), "2: that channel has no input to protect");
  EXPECT_EQ(protect(-1, true, "", 4), "2: no input was named to protect");
  EXPECT_THAT(protect(-1, true, "A", 7), StartsWith("1: "));
  EXPECT_TRUE(gm::cfg_is_protected("a", 7));
  EXPECT_THAT(protect(2, false), StartsWith("1: "));
  EXPECT_FALSE(gm::cfg_is_protected("LCL", 3));
}

TEST_F(ControlRequests, PhantomIsConfirmedByReadingItBack) {
  up("watch=8\nprotect=LCL:6\n", {"set /io/in/LCL/5/mode ST"});
  EXPECT_EQ(phantom(0, true),
            "1: [ctl] 48V ch=0 -> ON (from the dashboard, confirmed by read-back)");
  EXPECT_EQ(desk_value("/io/in/LCL/1/vph"), "1");

  // LCL 5 and 6 are linked: 48V on LCL 5 would reach the protected LCL 6.
  EXPECT_EQ(phantom(4, true), "2: the desk switches LCL 6's 48V with it, and LCL 6 is protected");
  EXPECT_EQ(desk_value("/io/in/LCL/5/vph"), "0");

  at_desk("set /$syscfg/tcplock 1");
  EXPECT_EQ(phantom(0, false), "2: the desk did not take 48V off at LCL 1");
  at_desk("set /$syscfg/tcplock 0");
  at_desk("fault silent on");
  EXPECT_EQ(phantom(1, true), "2: 48V was sent to LCL 2 but the desk did not answer");
  at_desk("fault silent off");
  expect_lines(host_, {"[48V] ch=0 -> off: REFUSED BY THE DESK - it still reads ON",
                       "[48V] ch=1 -> ON: NOT CONFIRMED - the desk did not answer the read-back"});
}

TEST_F(ControlRequests, AGroupScanFillsTheScanAreaAndOneInputCanBeRefreshed) {
  up("watch=8\nprotect=LCL:3\n",
     {"set /ch/2/name Vox", "set /io/in/LCL/3/vph 1", "set /io/in/LCL/4/$ha 0"});
  EXPECT_THAT(scan("LCL"), StartsWith("1: [reroute] scanned LCL: 24 input(s)"));
  EXPECT_TRUE(host_.has_line("(stopped: end of the group)"));
  const GmConsoleStatus& b = block();
  EXPECT_EQ(b.scan_seq, 1u);
  EXPECT_STREQ(b.scan_group, "LCL");
  ASSERT_EQ(b.scan_count, 24u);
  EXPECT_EQ(b.scan[23].input, 24);
  EXPECT_STREQ(b.scan[1].name, "Vox");
  EXPECT_EQ(b.scan[2].headamp + b.scan[2].phantom + b.scan[2].protect, 3);
  EXPECT_EQ(b.scan[0].headamp + b.scan[0].phantom + b.scan[0].protect, 1);
  EXPECT_EQ(b.scan[3].headamp, 0) << "head-amp type 0";
  EXPECT_DOUBLE_EQ(b.scan[2].gain, 0.0) << "gains are read only on a refresh";

  // (A refresh reading a gain: VerifyAndRefresh...)
  EXPECT_THAT(refresh("lcl", 4), StartsWith("1: "));
  EXPECT_DOUBLE_EQ(b.scan[3].gain, 0.0) << "no head amp: answered unread";
  EXPECT_EQ(refresh("LCL", 30), "2: that input is not in the list being shown");
  EXPECT_EQ(refresh("A", 1), "2: that group is not the one being shown");

  EXPECT_EQ(scan("NOPE"), "2: the desk listed no inputs in that group");
  EXPECT_EQ(b.scan_seq, 2u);
  EXPECT_EQ(b.scan_count, 0u);

  // A newer request waiting stops a scan at once.
  post(0, 500, {.kind = GM_CTL_KIND_SCAN, .group = "A"});
  post(1, 501, {.kind = 0});
  gm::serve_control_request();
  EXPECT_EQ(answered(0), 500u);
  EXPECT_THAT(answer(0), StartsWith("2: "));
  EXPECT_TRUE(host_.has_line("[reroute] scan of A abandoned at 1 - a newer request is waiting"));
  EXPECT_EQ(b.scan_seq, 2u) << "an abandoned scan publishes nothing";
  gm::serve_control_request();
  EXPECT_EQ(answered(1), 501u);
}

// Neither changes LV1 or the desk; a list reply that holds the gain but no 48V record leaves the
// 48V as it was shown.
TEST_F(ControlRequests, VerifyAndRefreshPublishOnlyWhatTheDeskListed) {
  up("watch=8\ndiag=1\n", {"set /io/in/LCL/2/g 12.5", "set /io/in/LCL/2/vph 1",
                           "set /io/in/LCL/5/g 20", "set /io/in/LCL/5/mode ST"});
  EXPECT_EQ(verify(1), "1: [verify] ch=1 LCL g=2/p=2 -> 12.5 dB, 48V ON");
  EXPECT_TRUE(host_.has_line("[verify] ch=1 LCL g=2/p=2 -> 12.5 dB, 48V ON"));
  EXPECT_DOUBLE_EQ(block().gain[1], 12.5);
  EXPECT_EQ(block().phantom[1], 1);
  // The right leg of a pair: gain from the pair's head amp, 48V from its own input.
  EXPECT_EQ(verify(5), "1: [verify] ch=5 LCL g=5/p=6 -> 20.0 dB, 48V off");
  EXPECT_DOUBLE_EQ(block().gain[5], 20.0);
  ASSERT_THAT(scan("LCL"), StartsWith("1: "));
  ASSERT_EQ(block().scan[1].phantom, 1);
  EXPECT_TRUE(host_.pushes().empty()) << "LV1 is not changed";
  EXPECT_TRUE(sim_->sets().empty()) << "nothing is written to the desk";

  at_desk("set /io/in/LCL/2/g 20");
  at_desk("fault list-without vph");
  EXPECT_EQ(verify(1), "1: [verify] ch=1 LCL g=2/p=2 -> 20.0 dB, 48V unread");
  EXPECT_DOUBLE_EQ(block().gain[1], 20.0);
  EXPECT_EQ(block().phantom[1], 1) << "a 48V that was not read is not published";
  EXPECT_THAT(refresh("LCL", 2), StartsWith("1: "));
  EXPECT_DOUBLE_EQ(block().scan[1].gain, 20.0);
  EXPECT_EQ(block().scan[1].phantom, 1);
}

// After a dashboard action the stereo modes are read again as routine; a mono input whose role
// and neighbour are read and unchanged still takes 48V from LV1 in the meantime.
TEST_F(ControlRequests, ARoutineModeReReadDoesNotHoldBack48VFromLv1) {
  up("watch=8\nprotect=LCL:8\n");
  gm::desk()->on_push(gm::on_desk_push);
  post(0, ++seq_, {.kind = GM_CTL_KIND_GAIN, .channel = 0, .value = 10});
  gm::serve_control_request();
  ASSERT_THAT(answer(0), StartsWith("1: "));
  ASSERT_TRUE(gm::bridge_flags().need_modes.load()) << "a mode re-read is due";

  gm::bridge_set_phantom(1, true);
  EXPECT_TRUE(eventually([&] { return desk_value("/io/in/LCL/2/vph") == "1"; }, 2s));
  // (A pair the desk is re-linking is refused until read: BridgeSet.No48VReaches...)
}

TEST_F(ControlRequests, LinkingIsRefusedWhileAProtectedLegHas48V) {
  up("watch=8\nprotect=LCL:6\n", {"set /io/in/LCL/5/vph 1"});
  EXPECT_EQ(ask({.kind = GM_CTL_KIND_MID_SIDE, .channel = 4, .arg = 0}),
            "2: won't link: 48V is on and LCL 6 is a protected ribbon input");
  EXPECT_TRUE(host_.has_line("[stereo] REFUSED link ch=4 LCL 5/6: 48V on with a protected leg"));
  EXPECT_EQ(desk_sets_matching("mode"), 0);

  // Linking with 48V cleared switches it off first, then links.
  EXPECT_EQ(ask({.kind = GM_CTL_KIND_LINK, .channel = 5, .arg = GM_CTL_ARG_LINK_CLEARING_48V}),
            "1: [stereo] ch=5 LCL 5/6 -> ST (arg=1)");
  EXPECT_TRUE(host_.has_line("[stereo] 48V off at LCL 5 before link"));
  EXPECT_EQ(desk_value("/io/in/LCL/5/mode"), "ST");
  EXPECT_EQ(desk_value("/io/in/LCL/6/vph"), "0");
  EXPECT_EQ(gm::patch_channel(5).stereo, 2) << "the new role is read back";

  // Unlinking hands the pair's gain to the right leg's own head amp.
  EXPECT_THAT(ask({.kind = GM_CTL_KIND_UNLINK,
                   .channel = 4,
                   .arg = GM_CTL_ARG_UNLINK_HANDOVER,
                   .value = 20}),
              StartsWith("1: "));
  EXPECT_TRUE(host_.has_line("[stereo] unlink gain handover: LCL 6 = 20.0 dB"));
  EXPECT_EQ(desk_value("/io/in/LCL/5/mode"), "M");
  EXPECT_EQ(desk_value("/io/in/LCL/6/g"), "20");
  EXPECT_DOUBLE_EQ(block().gain[5], 20.0);
  EXPECT_EQ(gm::patch_channel(5).stereo, 0);
}

}  // namespace
