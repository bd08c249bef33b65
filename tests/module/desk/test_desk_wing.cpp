// The WING desk backend: parsing discovery replies, the pure decisions about stage boxes and
// group sizes, and, against the virtual WING on a loopback address of its own, unicast discovery
// with the SoundGrid card check, input names and head amps.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "desk_wing.h"
#include "host_services.h"
#include "module/module_test_util.h"
#include "support/eventually.h"
#include "support/loopback.h"
#include "support/module_fixture.h"
#include "wing_ctl.h"
#include "wing_native.h"
#include "wingbin.h"

namespace {

using gmtest::eventually;

using namespace std::chrono_literals;
using gmtest::FakeHost;
using gmtest::unique_loopback;
using gmtest::WingSimProcess;

constexpr int kScanMs = 800;

gm::DeskFound parsed(const std::string& datagram, const char* sender = "127.0.0.9") {
  gm::DeskFound d;
  std::memset(&d, 0x5A, sizeof d);
  EXPECT_TRUE(gm::wing_parse_reply(datagram.data(), datagram.size(), sender, &d)) << datagram;
  return d;
}

// What a reply names: "ip | name | model | id | card".
std::string fields(const gm::DeskFound& d) {
  return std::string(d.ip) + " | " + d.name + " | " + d.model + " | " + d.id + " | " +
         std::to_string(d.card);
}

gm::DeskFound with_line(const std::string& line) {
  gm::DeskFound d{};
  std::snprintf(d.line, sizeof d.line, "%s", line.c_str());
  return d;
}

// ---- replies and pure decisions -----------------------------------------------------------

TEST(DeskReply, FieldsComeFromBothEndsSoTheNameMayHoldCommasAndEachIsCutToItsRecord) {
  const std::string line = "WING,10.0.0.5,Stage, Left, FOH,wing-rack,S123,3.1-0-g9f314617";
  const gm::DeskFound d = parsed(line);
  EXPECT_EQ(fields(d), "127.0.0.9 | Stage, Left, FOH | wing-rack | S123 | -1");
  EXPECT_EQ(d.line, line);

  EXPECT_STREQ(parsed("WING,10.0.0.5,FOH,wing,,3.1").id, "127.0.0.9") << "no serial: the address";
  // Fields are taken from the back, never before the address.
  EXPECT_EQ(fields(parsed("WING,10.0.0.5,FOH,wing,3.1")), "127.0.0.9 |  | FOH | wing | -1");

  const std::string name(150, 'n'), model(40, 'm');
  const std::string long_line = "WING,10.0.0.5," + name + "," + model + ",SER-7,3.1";
  const gm::DeskFound cut = parsed(long_line);
  EXPECT_EQ(std::string(cut.name), name.substr(0, 39));
  EXPECT_EQ(std::string(cut.model), model.substr(0, 23));
  EXPECT_STREQ(cut.id, "SER-7") << "the serial lies beyond the stored line";
  EXPECT_EQ(std::string(cut.line), long_line.substr(0, 159));
}

TEST(DeskReply, OnlyDatagramsBeginningWithWingAreReplies) {
  gm::DeskFound d{};
  for (const std::string bad : {"X32,10.0.0.5,FOH,X32,1.0", "WIN"}) {
    EXPECT_FALSE(gm::wing_parse_reply(bad.data(), bad.size(), "127.0.0.9", &d)) << bad;
  }
  EXPECT_EQ(gm::wing_scan("10.0.0", &d, 8, 100), 0) << "not IPv4";
}

TEST(DeskStageBoxes, HeadAmpsAreSummedOverWholeWordsOnly) {
  // A DN4816 is known, without head amps.
  const std::pair<const char*, int> cases[] = {
      {"DL16, DL16", 32}, {"DL32 + SD8", 40}, {"DN4816", 0}, {"DL16X", -1}, {nullptr, -1}};
  for (const auto& [text, n] : cases) {
    EXPECT_EQ(gm::wing_device_preamps(text), n) << (text ? text : "null");
  }
}

TEST(DeskGroups, SizesFollowTheAdoptedModelAndItsFirmwareChangeIsLogged) {
  FakeHost host;
  host.install();
  const int meter_lcl = gm::wnat_group_inputs("LCL");
  const int meter_a = gm::wnat_group_inputs("A");
  struct Case {
    const char* model;
    int lcl, aux;
  } cases[] = {
      {"wing-rack", 24, 0}, {"WING compact", 24, 0}, {"WING", 8, 8}, {"wing 2", meter_lcl, 0}};
  for (const Case& c : cases) {
    const std::string line = std::string("WING,10.0.0.5,FOH,") + c.model + ",S1,3.1-0-g9f314617";
    const gm::DeskFound d = with_line(line);
    gm::desk()->adopt(&d);
    EXPECT_EQ(gm::desk()->describe(), line);
    EXPECT_EQ(gm::wing_group_size("LCL"), c.lcl) << c.model;
    EXPECT_EQ(gm::wing_group_size("aux"), c.aux) << c.model;
    EXPECT_EQ(gm::wing_group_size("A"), meter_a) << c.model;
  }
  EXPECT_EQ(host.count_lines("firmware is now"), 0) << "same firmware every time";

  const gm::DeskFound newer = with_line("WING,10.0.0.5,FOH,wing,S1,3.2-1-gabc");
  gm::wing_adopt(&newer);
  EXPECT_TRUE(host.has_line(
      "[desk] WING firmware is now 3.2-1-gabc (was 3.1-0-g9f314617) - node hashes learned for the "
      "old build stay in use"));
  gm::host_install(nullptr);
}

// ---- against a desk -----------------------------------------------------------------------

std::unique_ptr<WingSimProcess> start_sim(const std::string& name, const std::string& model,
                                          const std::string& serial,
                                          std::vector<std::string> extra = {}) {
  WingSimProcess::Options o;
  o.ip = unique_loopback();
  o.name = name;
  o.model = model;
  o.serial = serial;
  o.extra = std::move(extra);
  return std::make_unique<WingSimProcess>(o);
}

TEST(DeskScan, FindsTheDeskWithItsIdentityAndTheSlotOfItsSoundGridCard) {
  const auto sim = start_sim("Stage, Left, FOH", "wing-compact", "S-42");
  gm::DeskFound found[8];
  ASSERT_EQ(gm::wing_scan(sim->ip().c_str(), found, 8, kScanMs), 1);
  // A SoundGrid card in the module slot.
  EXPECT_EQ(fields(found[0]), sim->ip() + " | Stage, Left, FOH | wing-compact | S-42 | 1");
  // In the card slot. (No card in either slot: DeskScanNetns.)
  const auto in_card_slot =
      start_sim("A", "wing", "S-1", {"--mod-card", "NONE", "--crd-card", "WSG"});
  ASSERT_EQ(gm::wing_scan(in_card_slot->ip().c_str(), found, 1, kScanMs), 1);
  EXPECT_EQ(found[0].card, 1);
  // While the module shuts down, the desk is still reported but its card is not asked.
  gm::wing_scan_stops_when([] { return true; });
  ASSERT_EQ(gm::wing_scan(sim->ip().c_str(), found, 8, kScanMs), 1);
  EXPECT_EQ(found[0].card, -1);
  gm::wing_scan_stops_when(nullptr);
}

// A desk adopted and started as the bridge does, with its firmware's node hashes preloaded.
class DeskLinked : public gmtest::InProcessModuleTest {
 protected:
  void SetUp() override {
    InProcessModuleTest::SetUp();
    gm::set_detail_level(2);
    start_desk();
    const gm::DeskFound found = with_line(discovery_line());
    gm::wing_adopt(&found);
    ASSERT_TRUE(gm::wing_start(ip_.c_str()));
    ASSERT_TRUE(eventually([] { return gm::wctl_connected(); }, 5s));
    ASSERT_GE(gm::wbin_hash_count(), gm::kWingHashes0Count) << "the adopted firmware's hashes";
  }
  void TearDown() override {
    gm::set_detail_level(1);
    InProcessModuleTest::TearDown();
  }
  // Waits until the desk's pushes of the changes just made have arrived, as a read that starts
  // while they are in flight could take one for its answer.
  // (Quiet for 250 ms, for 3 s at most.)
  void settle() {
    for (long seen = -1, i = 0; i < 12 && seen != gm::wctl_pushes(); ++i) {
      seen = gm::wctl_pushes();
      std::this_thread::sleep_for(250ms);
    }
  }
  std::string name_of(const char* grp, int n) {
    char buf[40] = "x";
    EXPECT_TRUE(gm::wing_get_input_name(grp, n, buf, sizeof buf)) << grp << " " << n;
    return buf;
  }
  int headamp(const char* grp, int n) {
    int type = -1;
    EXPECT_TRUE(gm::wing_get_headamp(grp, n, &type)) << grp << " " << n;
    return type;
  }
};

TEST_F(DeskLinked, InputNamesComeFromTheLowestStripElseTheInputUnlessAPlaceholder) {
  for (const char* c :
       {"set /ch/3/name Kick", "set /ch/30/in/conn/grp LCL", "set /ch/30/in/conn/in 3",
        "set /ch/30/name Other", "set /ch/31/in/conn/grp A", "set /ch/31/in/conn/in 5",
        "set /ch/31/name Vox", "set /ch/7/in/conn/grp OFF", "set /io/in/LCL/7/name Pastor",
        "set /io/in/A/40/name \"patch 12\"", "set /io/in/A/41/name PatchBay"}) {
    at_desk(c);
  }
  settle();

  EXPECT_EQ(name_of("LCL", 3), "Kick") << "strip 3 comes before strip 30";
  EXPECT_EQ(name_of("a", 5), "Vox");
  EXPECT_EQ(name_of("LCL", 7), "Pastor") << "no strip: the input's own name";
  EXPECT_EQ(name_of("A", 40), "");
  EXPECT_EQ(name_of("A", 41), "PatchBay");
}

TEST_F(DeskLinked, RemoteHeadAmpsHaveNoKnobAndAreReportedOncePerInput) {
  for (const char* c :
       {"set /io/in/LCL/2/rmt \"AES A\"", "set /io/in/LCL/2/$ract 1",
        "set /io/in/LCL/3/rmt \"AES B\"", "set /io/in/LCL/4/$ha 4", "set /io/in/LCL/5/$ha 2",
        "set /io/in/LCL/5/rmt \"AES A\"", "set /io/in/LCL/5/$ract 1"}) {
    at_desk(c);
  }
  settle();

  EXPECT_EQ(headamp("LCL", 1), 3);
  EXPECT_EQ(headamp("A", 40), 0);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(headamp("LCL", 2), 0);
    EXPECT_EQ(headamp("LCL", 3), 3) << "remote control allowed but not active";
    EXPECT_EQ(headamp("LCL", 4), 4);
    EXPECT_EQ(headamp("LCL", 5), 0);
  }
  gmtest::expect_counts(
      host_,
      {{"[patch] LCL 2: preamp controlled remotely by another desk over AES50 - no knob here (1)",
        1},
       {"[patch] LCL 4: head-amp type 4 has not been seen before - counted as a head amp", 1},
       {"LCL 5: head-amp type 2 has not been seen before", 1},
       {"LCL 5: preamp controlled remotely", 1},
       {"LCL 3:", 0},
       {"LCL 1:", 0}});
}

}  // namespace
