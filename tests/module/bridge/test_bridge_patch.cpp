// The input patch model against the virtual WING on a loopback address of its own: sources,
// head amps, stereo partners, port boxes, the card slot, ranges, names and the network lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "bridge_flags.h"
#include "bridge_patch.h"
#include "gm_win32.h"
#include "module/module_test_util.h"
#include "support/eventually.h"
#include "support/module_fixture.h"
#include "wing_ctl.h"

namespace {

using namespace gmtest;
using namespace std::chrono_literals;

class PatchModel : public InProcessModuleTest {
 protected:
  // A change made at the desk; the pause lets its push arrive before the next read.
  void at_desk(const std::string& command) {
    InProcessModuleTest::at_desk(command, gm::wctl_connected() ? 200 : 0);
  }
  uint64_t revalidate_bits() { return gm::take_channel_bits(gm::bridge_flags().revalidate); }
  // Whether each of the first n channels has a head amp, as "1" and "0".
  static std::string preamps(int n) {
    std::string out;
    for (int ch = 0; ch < n; ++ch) out += gm::wing_has_preamp(ch) ? '1' : '0';
    return out;
  }
  // A channel's source: its group, the input whose gain it drives and the one it takes 48V from.
  static std::string source(int ch) {
    return gm::wing_grp(ch) + " " + std::to_string(gm::wing_gain_src(ch)) + "/" +
           std::to_string(gm::wing_src(ch));
  }
};

TEST_F(PatchModel, BeforeThePatchIsReadChannelsMapToBankAndBaseWithAPreamp) {
  load_settings("bank=A\nbase=5\nwatch=8\n");
  EXPECT_EQ(source(0), "A 5/5");
  EXPECT_EQ(source(3), "A 8/8");
  EXPECT_EQ(preamps(64), std::string(64, '1'));
  EXPECT_FALSE(gm::wing_has_preamp(64) || gm::wing_has_preamp(-1));
  // Channel 8 is beyond the watched 8.
  EXPECT_EQ(std::pair(gm::ch_for_wing("a", 7), gm::ch_for_wing("A", 13)), std::pair(2, -1));
  EXPECT_EQ(gm::patch_card(), "MOD");
  EXPECT_FALSE(gm::patch_refresh()) << "no control link";
}

TEST_F(PatchModel, UnroutedOutputsStereoPartnersAndSharedHeadAmps) {
  load_settings("watch=6\ndiag=1\n");
  start_desk({"--patch", "MOD:1=OFF,MOD:2=B:1,MOD:3=LCL:5,MOD:4=LCL:6,MOD:5=LCL:5,MOD:6=USB:1"});
  at_desk("set /io/in/LCL/6/g 10");
  at_desk("set /io/in/LCL/6/mode ST");
  connect_desk();

  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_TRUE(gm::patch_is_read());
  EXPECT_LT(gm::patch_age_ms(), 5000u);
  const gm::PatchChannel off = gm::patch_channel(0);
  EXPECT_EQ(std::tuple(std::string(off.group), off.has_preamp, off.gain_input),
            std::tuple("OFF", false, 0));
  // B 1 reports head-amp type 0, USB inputs have none.
  EXPECT_EQ(preamps(6), "001110");

  // A right leg: gain goes to the pair's head amp, 48V to the leg's own input.
  const gm::PatchChannel right = gm::patch_channel(3);
  EXPECT_EQ(source(3), "LCL 5/6");
  EXPECT_EQ(std::tuple(right.stereo, right.parked_valid, right.parked_db),
            std::tuple(2, true, 10.0));
  gmtest::expect_lines(
      host_, {"[patch] LCL 6 is a stereo partner - head amp is LCL 5",
              "[patch] LCL 6 parked node holds 10.0 dB", "[patch] 6 channel(s) re-patched",
              "[ha] B: 1=0", "[ha] LCL: 5=3 6=3 5=3",
              "[gang] LCL 5 drives 3 LV1 channel(s): 3(LCL 5), 4(LCL 6), 5(LCL 5)"});
  EXPECT_EQ(
      std::tuple(gm::ch_for_wing("lcl", 5), gm::ch_for_wing("LCL", 6), gm::ch_for_wing("B", 1)),
      std::tuple(2, 3, -1));
  EXPECT_EQ(revalidate_bits(), 0x3Fu);
  EXPECT_TRUE(gm::bridge_flags().need_seed.exchange(false));
  EXPECT_TRUE(gm::bridge_flags().need_names.exchange(false));

  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_EQ(host_.count_lines("channel(s) re-patched"), 1) << "nothing changed";
  EXPECT_EQ(revalidate_bits(), 0u);

  // Unlinking at the desk: the right leg drives its own head amp again.
  at_desk("set /io/in/LCL/5/mode M");
  EXPECT_EQ(gm::modes_refresh(), 3);
  gmtest::expect_lines(host_, {"[patch] 3 channel(s) changed stereo linking",
                               "[gang] LCL 5 drives 2 LV1 channel(s): 3(LCL 5), 5(LCL 5)"});
  EXPECT_EQ(source(3), "LCL 6/6");
  EXPECT_FALSE(gm::patch_channel(3).parked_valid);
  EXPECT_EQ(revalidate_bits(), 1u << 3);

  at_desk("set /io/in/LCL/6/mode ST");
  EXPECT_EQ(gm::modes_refresh_one(3), 1);
  EXPECT_EQ(source(3), "LCL 5/6");
  EXPECT_TRUE(gm::patch_channel(3).parked_valid);
  EXPECT_EQ(gm::modes_refresh_one(3), 0);
}

TEST_F(PatchModel, APortBoxOfEightInputsHidesTheNinth) {
  load_settings("watch=2\n");
  start_desk({"--patch", "MOD:1=A:8,MOD:2=A:9"});
  at_desk("set /$stat/A/dev SD8");
  at_desk("set /$globals/harmt/b 0");
  connect_desk();
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_EQ(preamps(2), "10");
  EXPECT_EQ(gm::port_preamps("A"), 8);
  gmtest::expect_lines(
      host_, {"[ports] A: SD8, HA remote on, known box", "[ports] A: 8 preamp input(s) on that box",
              "[ports] B: (nothing connected), HA remote OFF", "[ports] SC: (nothing connected)"});
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_EQ(host_.count_lines("[ports] A:"), 2) << "the ports are read once per run";

  // A box the module does not know: every input keeps its knob.
  gm::patch_reset();
  at_desk("set /$stat/A/dev \"MYSTERY BOX\"");
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_TRUE(host_.has_line("[ports] A: MYSTERY BOX, HA remote on"));
  EXPECT_EQ(gm::port_preamps("A"), -1);
  EXPECT_EQ(preamps(2), "11");
}

TEST_F(PatchModel, AHeadAmpOwnedByAnotherDeskHasNoKnobUntilItIsReleased) {
  load_settings("watch=2\n");
  start_desk({"--patch", "MOD:1=A:3,MOD:2=A:4"});
  at_desk("set /io/in/A/3/rmt \"AES A\"");
  at_desk("set /io/in/A/3/$ract 1");
  connect_desk();
  ASSERT_TRUE(gm::patch_refresh());
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_EQ(preamps(2), "01");
  EXPECT_EQ(host_.count_lines(
                "[patch] A 3: preamp controlled remotely by another desk over AES50 - no knob"),
            1);
  revalidate_bits();

  at_desk("set /io/in/A/3/$ract 0");
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_EQ(preamps(2), "11");
  gmtest::expect_lines(host_, {"[patch] A 3 head amp is now present (desk reports type 3)",
                               "[patch] 1 channel(s) re-patched"});
  EXPECT_EQ(revalidate_bits(), 1u);
}

TEST_F(PatchModel, TheNetworkLockIsReportedWhenItChanges) {
  load_settings("watch=1\n");
  start_desk();
  at_desk("set /$syscfg/tcplock 1");
  connect_desk();
  ASSERT_TRUE(gm::patch_refresh());
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_TRUE(gm::patch_tcp_lock());
  EXPECT_EQ(host_.count_lines("[patch] the desk is set to refuse changes from the network (TCP "
                              "lock) - nothing Gainmesh sends will change it"),
            1);
  at_desk("set /$syscfg/tcplock 0");
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_FALSE(gm::patch_tcp_lock());
  EXPECT_TRUE(
      host_.has_line("[patch] the desk accepts changes from the network again (TCP lock "
                     "off)"));
}

TEST_F(PatchModel, TheSlotReportPicksTheSlotHoldingTheWsgCard) {
  load_settings("watch=2\n");
  start_desk({"--patch", "CRD:1-2=A:5-6", "--mod-card", "NONE", "--crd-card", "WSG"});
  connect_desk();
  ASSERT_TRUE(gm::patch_refresh());
  gmtest::expect_lines(host_,
                       {"[patch] card slots: MOD=NONE CRD=WSG",
                        "[patch] the WSG card is in CRD - reading LV1's patch from CRD (was MOD)"});
  EXPECT_EQ(source(1), "A 6/6");
}

TEST_F(PatchModel, NothingRoutedOnItsCardMovesTheModelOnceToACardThatRoutesSomething) {
  load_settings("watch=8\n");
  start_desk({"--patch", "CRD:1-4=LCL:1-4", "--crd-card", "WSG"});
  connect_desk();
  ASSERT_TRUE(gm::patch_refresh());
  gmtest::expect_lines(
      host_,
      {"[patch] card slots: MOD=WSG CRD=WSG",
       "[patch] card MOD has no routed outputs; card CRD has 4 - reading LV1's patch from CRD"});
  EXPECT_EQ(gm::patch_card(), "CRD");
  EXPECT_EQ(source(3), "LCL 4/4");
  EXPECT_EQ(preamps(5), "11110") << "CRD 5 routes nothing";

  at_desk("patch MOD:1-8=LCL:1-8,CRD:1-8=OFF");
  ASSERT_TRUE(gm::patch_refresh());
  EXPECT_EQ(gm::patch_card(), "CRD") << "the switch happens once per run";
  EXPECT_EQ(host_.count_lines("has no routed outputs"), 1);
}

TEST_F(PatchModel, RangesAreLearnedPerGroupUpToEightAndRetried) {
  load_settings("watch=4\n");
  start_desk();
  connect_desk();
  ASSERT_TRUE(gm::patch_refresh());
  gm::RangeRecord lcl;
  ASSERT_TRUE(gm::find_range("lcl", &lcl));
  EXPECT_EQ(std::pair(lcl.from_desk, lcl.channels), std::pair(true, 4));
  EXPECT_TRUE(
      host_.has_line("[range] LCL: -2.5 .. 45.0 dB, step 2.50 dB (from the node "
                     "definition)"));

  gm::learn_range("A");
  at_desk("fault silent on");
  gm::learn_range("B");
  at_desk("fault silent off");
  for (const char* g : {"AUX", "USB", "CRD", "MOD", "PLAY", "USR"}) gm::learn_range(g);
  EXPECT_EQ(gm::range_count(), 8);
  EXPECT_FALSE(gm::find_range("USR", nullptr)) << "a ninth group uses the defaults";
  EXPECT_FALSE(host_.has_line("[range] USR"));
  EXPECT_TRUE(host_.has_line(
      "[range] B: the desk gave no definition - using defaults (0.0 .. 45.0 dB, step 2.50)"));

  // A failed group is retried once its last attempt is a minute old.
  gm::RangeRecord b;
  const uint64_t now = gm_now_ms();
  gm::relearn_stale_ranges(now + 1000);
  ASSERT_TRUE(gm::find_range("B", &b));
  EXPECT_FALSE(b.from_desk) << "the last attempt is too recent";

  ASSERT_TRUE(eventually([] { return gm::wctl_connected(); }, 8s))
      << "a keep-alive may have failed while the desk was silent";
  gm::relearn_stale_ranges(now + gm::kRangeRetryMs);
  ASSERT_TRUE(gm::find_range("B", &b));
  EXPECT_TRUE(b.from_desk);
  EXPECT_TRUE(host_.has_line("[range] B: definition arrived on a retry: "));
}

TEST_F(PatchModel, NamesComeFromTheStripsAndAreCutTo19Characters) {
  load_settings("watch=4\n");
  start_desk({"--patch", "MOD:1-3=LCL:1-3,MOD:4=A:2"});
  // Which strip names an input: DeskLinked.InputNamesComeFromTheLowestStrip...
  at_desk("set /ch/1/name Kick");
  at_desk("set /ch/2/name ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  at_desk("set /io/in/A/2/name Vox");
  connect_desk();
  EXPECT_FALSE(gm::names_refresh()) << "the patch is not read yet";
  ASSERT_TRUE(gm::patch_refresh());
  ASSERT_TRUE(gm::names_refresh());
  EXPECT_EQ(gm::patch_name(0), "Kick");
  EXPECT_EQ(gm::patch_name(1), "ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(gm::patch_name(2), "");
  EXPECT_EQ(gm::patch_name(3), "Vox");
  EXPECT_TRUE(host_.has_line("[names] 3 of 4 channel(s) labelled"));
}

// A reader on another thread must always see a record whole: never one source's group with
// another's input.
TEST_F(PatchModel, ReadersSeeAWholeRecordWhileItIsRePatched) {
  load_settings("watch=1\n");
  start_desk({"--patch", "MOD:1=LCL:1"});
  connect_desk();
  ASSERT_TRUE(gm::patch_refresh());
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const gm::PatchChannel c = gm::patch_channel(0);
      const bool lcl = std::string(c.group) == "LCL" && c.input == 1 && c.gain_input == 1;
      const bool a = std::string(c.group) == "A" && c.input == 7 && c.gain_input == 7;
      if (!lcl && !a) ++torn;
    }
  });
  int changes = 0;
  for (int i = 0; i < 1000; ++i) {
    sim_->cmd(i % 2 ? "patch MOD:1=LCL:1" : "patch MOD:1=A:7");
    changes += gm::patch_read_one(0);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(changes, 1000);
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
