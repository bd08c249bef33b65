// The gain and 48V rules of the bridge against the virtual WING on a loopback address of its own:
// what LV1's sets send (and refuse), what desk values and pushes show in LV1, the protect list,
// session recall and the replay after a dropout. The module's threads do not run; each test
// drives the bridge state as the watch thread would.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
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

namespace {

using namespace gmtest;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class BridgeSet : public InProcessModuleTest {
 protected:
  void SetUp() override {
    InProcessModuleTest::SetUp();
    // A set that finds no desk starts the bridge; the discover thread must not run here.
    gm::bs().started = true;
    gm::bs().iface = &iface_;
    ASSERT_TRUE(gm::shm_init());
  }
  // The settings, then the desk with its patch (`setup` runs at the desk first), adopted with the
  // control link up as the discover thread leaves it, and the patch of `read` channels read.
  void rig(const std::string& cfg, const std::string& patch, const Lines& setup = {},
           int read = 0) {
    load_settings(cfg);
    start_desk({"--patch", patch});
    for (const std::string& c : setup) at_desk(c);
    connect_desk();
    gm::bs().ready = true;
    read_patch(read);
  }
  // The patch of the first n channels, without learning ranges (the defaults then apply).
  void read_patch(int n) {
    for (int ch = 0; ch < n; ++ch) ASSERT_GE(gm::patch_read_one(ch), 0) << ch;
    if (n == 0) return;
    gm::patch_mark_read();
    gm::take_channel_bits(gm::bridge_flags().revalidate);
  }
  Lines desk_sets(size_t at_least) {
    eventually([&] { return sim_->sets().size() >= at_least; });
    return sim_->sets();
  }
  // What LV1 was told for a channel, oldest first: gains as "12.5", 48V as "on" / "off", each
  // marked "*" when it came as a live event.
  std::string shown(int ch, bool gain) const {
    std::string out;
    for (const Push& p : host_.pushes()) {
      if (p.ch != ch || !(gain ? p.set_gain : p.set_phantom)) continue;
      char v[32];
      if (gain) std::snprintf(v, sizeof v, "%g", p.gain_db);
      out += (out.empty() ? "" : " ") + std::string(gain ? v : p.phantom_on ? "on" : "off");
      if (p.live) out += "*";
    }
    return out;
  }
  std::string gains(int ch) const { return shown(ch, true); }
  std::string phantoms(int ch) const { return shown(ch, false); }
  void seed(int ch, double db, bool on) {
    gm::apply_value(ch, true, db, cache_);
    gm::apply_value(ch, false, on ? 1 : 0, cache_);
  }
  void set_ago(int ch, uint32_t ms) { gm::bs().ch[ch].last_set_ms = gm::now32() - ms; }

  WingGainIface iface_{};
  gm::SeedCache cache_;
  uint64_t seen_[gm::kChannels] = {};
};

TEST_F(BridgeSet, AGainWaitsForTheDeskValueThenGoesOutAsLv1GaveItAndIsShownSnapped) {
  rig("watch=3\n", "MOD:1=LCL:1,MOD:2=LCL:2,MOD:3=OFF,MOD:4=LCL:4");
  EXPECT_DOUBLE_EQ(gm::bridge_gain_max(0), 45.0) << "defaults before the patch is read";
  gm::bridge_set_gain(0, 44.3);
  read_patch(4);  // channel 3 is read, but not bridged
  gm::bridge_set_gain(0, 44.3);
  EXPECT_EQ(host_.count_lines("SET gain ch=0 44.3 dB  [desk value not read yet - LV1 is still "
                              "starting, not sent]"),
            2);
  gm::bridge_set_gain(2, 10);
  EXPECT_FALSE(host_.has_line("ch=2")) << "a channel without a head amp is silently ignored";

  seed(0, 0, false);
  gm::bridge_set_gain(0, 44.3);
  StatusFile blk(home_.run_dir());
  ASSERT_TRUE(blk.ok());
  EXPECT_DOUBLE_EQ(blk->gain[0], 45.0);
  EXPECT_EQ(blk->sets, 1u);
  EXPECT_GT(blk->last_set_ms, 0u);
  gm::bridge_set_gain(0, -3);
  EXPECT_DOUBLE_EQ(blk->gain[0], 0.0);
  EXPECT_EQ(blk->sets, 2u);

  gm::bs().first_seed_done = true;
  gm::bridge_set_gain(3, 20);
  gm::bridge_set_gain(1, 10);
  gm::bs().identity_recheck = true;
  gm::bridge_set_gain(1, 12.5);
  gm::bs().identity_recheck = false;
  EXPECT_EQ(desk_sets(3), (Lines{"/io/in/LCL/1/g 44.3", "/io/in/LCL/1/g -3", "/io/in/LCL/2/g 10"}));
  // (With the link down: BridgeE2eTest's dropouts.)
  EXPECT_TRUE(host_.has_line(
      "SET gain ch=1 12.5 dB  [checking which console answers after the reconnect - not sent]"));
}

TEST_F(BridgeSet, DeskValuesRightAfterAnOwnSetAreItsEchoAndDoNotMoveLv1) {
  rig("watch=1\n", "MOD:1=LCL:1", {}, 1);
  seed(0, 10, false);
  gm::bridge_set_gain(0, 20);
  set_ago(0, 100);
  gm::apply_value(0, true, 22.5, cache_);
  set_ago(0, 300);
  gm::apply_value(0, true, 25, cache_);
  gm::apply_value(0, true, 25.005, cache_);  // less than 0.01 dB does not move LV1
  EXPECT_EQ(gains(0), "10 25") << "a seed or a read is not a live event";

  gm::bridge_set_phantom(0, true);
  set_ago(0, 100);
  gm::apply_value(0, false, 1, cache_);
  set_ago(0, 300);
  gm::apply_value(0, false, 0, cache_);
  EXPECT_EQ(phantoms(0), "off off");
  EXPECT_TRUE(host_.has_line("[bridge] desk 48V ch=0 -> 0"));
  EXPECT_EQ(host_.count_lines("[bridge] desk 48V"), 1);
}

TEST_F(BridgeSet, OwnSetsAreConfirmedToLv1Live48VAtOnceGainAfter300ms) {
  rig("watch=1\n", "MOD:1=LCL:1", {}, 1);
  gm::bs().first_seed_done = true;
  gm::bridge_set_gain(0, 44.3);
  gm::bridge_set_phantom(0, true);
  const uint32_t t = gm::bs().ch[0].last_set_ms;
  gm::push_confirmations(t + 299);
  EXPECT_EQ(phantoms(0), "on*");
  EXPECT_EQ(gains(0), "");
  gm::push_confirmations(t + 300);
  gm::push_confirmations(t + 900);
  EXPECT_EQ(gains(0), "44.3*") << "LV1's own value, not the snapped one";
  EXPECT_EQ(phantoms(0), "on*");
}

TEST_F(BridgeSet, No48VReachesAProtectedInputOrOneTheDeskLinksToIt) {
  rig("watch=3\nprotect=LCL:6\n", "MOD:1=LCL:5,MOD:2=LCL:6,MOD:3=LCL:7",
      {"set /io/in/LCL/5/mode ST"});
  gm::bs().first_seed_done = true;
  gm::bridge_set_phantom(0, true);
  read_patch(3);
  gm::bridge_set_phantom(1, true);
  gm::bridge_set_phantom(0, true);
  gm::push_confirmations(gm::now32());
  EXPECT_EQ(phantoms(0), "off*") << "LV1's switch flips back";
  EXPECT_EQ(phantoms(1), "off*");

  // While the desk reports LCL 7's stereo mode changing, whether it links its 48V is unknown;
  // once the watch thread has read the new mode it is known again.
  gm::desk()->on_push(gm::on_desk_push);
  at_desk("set /io/in/LCL/7/mode M/S", 150);
  gm::bridge_set_phantom(2, true);
  gm::take_channel_bits(gm::bridge_flags().remode);
  ASSERT_EQ(gm::modes_refresh_one(2), 1);
  gm::desk()->on_push(nullptr);
  gm::bridge_set_phantom(2, true);
  gm::bridge_set_phantom(1, false);
  EXPECT_EQ(desk_sets(2), (Lines{"/io/in/LCL/7/vph 1", "/io/in/LCL/6/vph 0"}));
  expect_lines(host_,
               {"[48V] REFUSED ch=0: the desk patch has not been read yet, so which input this is "
                "cannot be known",
                "[48V] REFUSED ch=1 -> LCL 6: input is protected in gainmesh.cfg",
                "[48V] REFUSED ch=0 -> LCL 5: the desk switches LCL 6's 48V with it, and that "
                "input is protected in gainmesh.cfg",
                "[48V] REFUSED ch=2 -> LCL 7: whether the desk links its 48V to another input is "
                "not known yet"});
}

TEST_F(BridgeSet, TheProtectListHoldsThirtyTwoInputsAndIsSaved) {
  load_settings("watch=1\n");
  for (int i = 1; i <= 32; ++i) ASSERT_TRUE(gm::protect_set("A", i, true)) << i;
  EXPECT_FALSE(gm::protect_set("A", 33, true));
  EXPECT_FALSE(gm::phantom_protected("A", 33));
  EXPECT_TRUE(gm::protect_set("a", 5, true)) << "already there, in any case";
  EXPECT_EQ(host_.count_lines("A 5 is now protected"), 1);
  EXPECT_TRUE(gm::protect_set("a", 5, false));
  EXPECT_TRUE(gm::protect_set("A", 5, false)) << "removing what is not there succeeds";
  EXPECT_FALSE(gm::phantom_protected("A", 5));
  char group[8];
  int input = 0, n = 0;
  while (gm::protect_at(n, group, sizeof group, &input)) ++n;
  EXPECT_EQ(n, 31);
  ASSERT_TRUE(gm::protect_at(4, group, sizeof group, &input));
  EXPECT_EQ(input, 32) << "the last entry takes the removed one's place";

  EXPECT_TRUE(gm::protect_set("LONGGROUPNAME", 3, true));
  expect_lines(host_, {"[48V] protect list is full (32) - A 33 NOT protected",
                       "[48V] a 5 is no longer protected - 48V can be switched on here again",
                       "[48V] LONGGRO 3 is now protected - 48V will never be switched on here"});
  gm::cfg_reset();
  gm::load_cfg();
  EXPECT_TRUE(gm::phantom_protected("longgro", 3));
  EXPECT_FALSE(gm::phantom_protected("A", 5));
  EXPECT_TRUE(gm::phantom_protected("A", 31));
}

TEST_F(BridgeSet, ASessionRecallWaitsForTheFirstReadAndNeverSwitchesAProtectedInput) {
  rig("watch=3\nprotect=LCL:3\n", "MOD:1=LCL:1,MOD:2=LCL:2,MOD:3=LCL:3", {}, 3);
  const double gain[64] = {12.5, 20, 5};
  const int phantom[64] = {1, 0, 1}, present[64] = {1, 0, 1};
  gm::bridge_recall(gain, phantom, present);
  EXPECT_TRUE(
      host_.has_line("[recall] LV1 opened a session with Gainmesh preamp values - held until the "
                     "console has been read"));
  EXPECT_TRUE(host_.pushes().empty());
  gm::bs().first_seed_done = true;
  gm::apply_pending_recall();
  gm::apply_pending_recall();
  gm::push_confirmations(gm::now32());
  EXPECT_EQ(host_.count_lines("[recall] session preamp values applied to the console: 2 "
                              "channel(s)"),
            1);
  EXPECT_EQ(desk_sets(3), (Lines{"/io/in/LCL/1/g 12.5", "/io/in/LCL/1/vph 1", "/io/in/LCL/3/g 5"}));
  EXPECT_EQ(phantoms(0), "on* on*");
  EXPECT_EQ(phantoms(2), "on* off*") << "LV1 ends showing the desk's 48V";
  EXPECT_EQ(gains(1) + phantoms(1), "") << "not in the session";
}

// Through the module's entry: BridgeE2eTest.ASessionsPreampValuesAreAppliedToTheDesk.
TEST_F(BridgeSet, ASessionIsNotAppliedWhenRecallIsOffAndIsHeldUntilTheConsoleAnswers) {
  rig("watch=1\nsession_recall=off\n", "MOD:1=LCL:1", {}, 1);
  gm::bs().first_seed_done = true;
  const double gain[64] = {12.5};
  const int phantom[64] = {1}, present[64] = {1};
  gm::bridge_recall(gain, phantom, present);
  load_settings("watch=1\n");
  gm::bs().identity_recheck = true;  // the console at the address is being checked again
  gm::bridge_recall(gain, phantom, present);
  gm::apply_pending_recall();
  gm::bs().identity_recheck = false;
  gm::apply_pending_recall();
  expect_lines(host_, {"[recall] LV1 opened a session with Gainmesh preamp values - not applied "
                       "(session_recall=off)",
                       "[recall] LV1 opened a session with Gainmesh preamp values - held until "
                       "the console answers",
                       "[recall] the console is not answering - LV1's values are held until it "
                       "is back"});
  EXPECT_EQ(desk_sets(2), (Lines{"/io/in/LCL/1/g 12.5", "/io/in/LCL/1/vph 1"}));
}

TEST_F(BridgeSet, ADropoutReplaysKnownChannelsOnlyAndFansNothingOut) {
  rig("watch=4\n", "MOD:1=LCL:1,MOD:2=LCL:2,MOD:3=OFF,MOD:4=LCL:1");
  gm::resync_push_to_desk();
  EXPECT_TRUE(host_.has_line("[sync] no patch yet - not replaying to the desk"));
  read_patch(4);
  iface_.gain[0] = 15, iface_.phantom[0] = 1;
  iface_.gain[1] = 7.5, iface_.phantom[1] = 2;
  gm::bs().ch[0].known = gm::bs().ch[1].known = true;
  gm::resync_push_to_desk();
  EXPECT_TRUE(host_.has_line(
      "[sync] replayed 2 channel(s) to the desk (1 with 48V, 1 skipped as unknown)"));
  EXPECT_EQ(gm::bs().ch[3].push_seq.load(), 0u) << "LCL 1 also feeds ch 3, but not in a replay";
  EXPECT_FALSE(gm::bridge_flags().in_resync.load());
  EXPECT_EQ(desk_sets(4), (Lines{"/io/in/LCL/1/g 15", "/io/in/LCL/1/vph 1", "/io/in/LCL/2/g 7.5",
                                 "/io/in/LCL/2/vph 0"}));
}

TEST_F(BridgeSet, DeskPushesReachTheRightChannels) {
  rig("watch=4\ndiag=1\nprotect=LCL:6\n", "MOD:1=LCL:5,MOD:2=LCL:6,MOD:3=LCL:7,MOD:4=OFF",
      {"set /io/in/LCL/5/mode ST"});
  gm::on_desk_push("LCL", 7, "g", 3, true, nullptr);
  EXPECT_EQ(gm::bs().ch[2].push_seq.load(), 0u) << "ignored before the patch is read";
  read_patch(4);
  for (int ch = 0; ch < 3; ++ch) seed(ch, 0, false);
  gm::desk()->on_push(gm::on_desk_push);

  // At the desk: a gain, and 48V on the linked pair (the desk switches both legs).
  at_desk("set /io/in/LCL/7/g 12.5");
  at_desk("set /io/in/LCL/5/vph 1");
  EXPECT_TRUE(eventually([&] {
    gm::apply_desk_pushes(cache_, seen_);
    return gains(2) == "0 12.5*" && phantoms(0) == "off on*" && phantoms(1) == "off on*";
  })) << gains(2)
      << " / " << phantoms(0) << " / " << phantoms(1);
  EXPECT_TRUE(
      host_.has_line("[48V] ALARM: LCL 6 is PROTECTED but now reads 48V ON - switched at "
                     "the desk, not by Gainmesh (LV1 in 2)"));
  gm::desk()->on_push(nullptr);

  // The right leg's own gain node is parked; the pair's gain is its gain.
  gm::on_desk_push("LCL", 6, "g", 9.5, true, nullptr);
  gm::on_desk_push("LCL", 5, "g", 21, true, nullptr);
  gm::on_desk_push("LCL", 6, "mute", 1, true, nullptr);
  gm::on_desk_push("LCL", 6, "$mute", 1, true, nullptr);
  gm::apply_desk_pushes(cache_, seen_);
  const gm::PatchChannel right = gm::patch_channel(1);
  EXPECT_TRUE(right.parked_valid);
  EXPECT_DOUBLE_EQ(right.parked_db, 9.5);
  EXPECT_EQ(right.mute_bits, 3) << "both mute leaves, pushed together, are kept";
  EXPECT_EQ(gains(0), "0 21*");
  EXPECT_EQ(gains(1), "0 21*");

  gm::BridgeFlags& f = gm::bridge_flags();
  gm::on_desk_push("MOD", 3, "grp", 0, false, nullptr);
  EXPECT_EQ(gm::take_channel_bits(f.reread), 1u << 2);
  gm::on_desk_push("LCL", 6, "mode", 0, false, nullptr);
  EXPECT_EQ(gm::take_channel_bits(f.remode), 0x3u) << "both legs of the pair";
  EXPECT_FALSE(f.need_modes.load());
  gm::on_desk_push("LCL", 20, "mode", 0, false, nullptr);
  EXPECT_TRUE(f.need_modes.exchange(false));
  gm::on_desk_push("LCL", 7, "$ha", 0, false, nullptr);
  EXPECT_EQ(gm::take_channel_bits(f.reread), 1u << 2);
  EXPECT_TRUE(host_.has_line("[patch] LCL 7 head amp / owner changed on the desk - re-checking"));
}

}  // namespace
