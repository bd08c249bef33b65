// The desk's control operations against a scripted desk: the bytes each operation sends, the
// answers it refuses, and the node hashes it learns.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "module/module_test_util.h"
#include "module_entry.h"
#include "support/eventually.h"
#include "support/fake_desk.h"
#include "support/loopback.h"
#include "wing_ctl.h"

namespace {

using namespace gmtest;
using gm::WbinRequest;

constexpr auto rec = &FakeDesk::value_record;
constexpr auto flt = &FakeDesk::float_token;
constexpr auto str = &FakeDesk::string_token;

constexpr auto join = &cat<Bytes>;

// A definition record of a numeric node: DF, length, 10 bytes, two names, a byte, the kind byte,
// min, max and the step count.
Bytes definition(float lo, float hi, uint32_t steps, uint8_t kind = 0x10, bool tag = true) {
  Bytes body(10, 0x00);
  body.insert(body.end(), {1, 'g', 4, 'G', 'a', 'i', 'n', 0x00, kind});
  for (const Bytes& f : {flt(lo), flt(hi)}) body.insert(body.end(), f.begin() + 1, f.end());
  for (int shift = 24; shift >= 0; shift -= 8) body.push_back(uint8_t(steps >> shift));
  Bytes head = tag ? Bytes{0xDF} : Bytes{};
  head.insert(head.end(), {uint8_t(body.size() >> 8), uint8_t(body.size())});
  return join({head, body});
}

class WingCtl : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.install();
    desk_.set_handler([this](const DeskRequest& r) { return reply_for(r); });
    ASSERT_TRUE(gm::wctl_start(desk_.ip().c_str()));
    ASSERT_TRUE(eventually([] { return gm::wctl_connected(); }, std::chrono::seconds(5)));
  }
  void TearDown() override {
    gm::wctl_stop();
    gm::wctl_on_push(nullptr);
    gm::set_detail_level(1);
  }

  // The desk answers value requests for path with reply.
  void answer(const std::string& path, Bytes reply) {
    std::lock_guard<std::mutex> lock(mu_);
    answers_[path] = std::move(reply);
  }

  Bytes reply_for(const DeskRequest& r) {
    std::lock_guard<std::mutex> lock(mu_);
    if (r.kind != WbinRequest::kGet) return {};
    const auto it = answers_.find(r.path);
    return it == answers_.end() ? Bytes{} : it->second;
  }

  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const DeskRequest& r : desk_.requests()) out.push_back(r.path);
    return out;
  }

  FakeHost host_;
  std::mutex mu_;
  std::map<std::string, Bytes> answers_;
  FakeDesk desk_{unique_loopback()};  // last, so that its threads end before the answers go
};

const Bytes kLcl1Gain = {0xDF, 0xD1, 0xDA, 0xC1, 0x69, 0x6F, 0xC1, 0x69,
                         0x6E, 0xC2, 0x4C, 0x43, 0x4C, 0x40, 0xC0, 0x67};

TEST_F(WingCtl, GainOfLocalInputOneTravelsAsInTheWorkedExample) {
  constexpr uint32_t kHash = 0x1CB9CE6B;  // LCL 1 "g" in firmware 3.1
  gm::wbin_hash_learn(kHash, "LCL", 1, "g");
  answer("/io/in/LCL/1/g", rec(kHash, flt(-3.0f)));

  ASSERT_TRUE(gm::wctl_set_gain("LCL", 1, -3.0));
  ASSERT_TRUE(desk_.wait_for_requests(1, 2000));
  double db = 0;
  ASSERT_TRUE(gm::wctl_get_gain("LCL", 1, &db));
  EXPECT_EQ(db, -3.0);

  const auto reqs = desk_.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].raw, join({kLcl1Gain, {0xD5, 0xC0, 0x40, 0x00, 0x00}}));
  EXPECT_EQ(reqs[1].raw, join({kLcl1Gain, {0xDC}}));
}

TEST_F(WingCtl, SetsLayOutPathAndValueTokensAndInvalidOnesSendNothing) {
  EXPECT_FALSE(gm::wctl_set_patch("CRD", 65, "LCL", 1) || gm::wctl_set_patch("CRD", 1, "LCL", 0) ||
               gm::wctl_set_patch("CRD", 1, "LCL", 65) || gm::wctl_set_patch("CRD", 1, "", 1));
  EXPECT_FALSE(gm::wctl_set_gain("LCL", 1, std::nan("")) || gm::wctl_set_gain("", 1, 0.0));
  EXPECT_FALSE(gm::wctl_set_phantom("LCL", 0, true) || gm::wctl_set_mode("LCL", 1, nullptr));

  ASSERT_TRUE(gm::wctl_set_phantom("LCL", 2, true));
  ASSERT_TRUE(desk_.wait_for_requests(1, 2000));
  ASSERT_TRUE(gm::wctl_set_mode("A", 3, "ST"));
  ASSERT_TRUE(gm::wctl_set_mode("A", 3, ""));
  ASSERT_TRUE(gm::wctl_set_patch("MOD", 5, "LCL", 7));
  ASSERT_TRUE(desk_.wait_for_requests(5, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  const auto reqs = desk_.requests();
  ASSERT_EQ(reqs.size(), 5u);
  EXPECT_EQ(reqs[0].raw, Bytes({0xDF, 0xD1, 0xDA, 0xC1, 'i', 'o', 0xC1, 'i', 'n', 0xC2, 'L', 'C',
                                'L', 0x41, 0xC2, 'v', 'p', 'h', 0x01}));
  EXPECT_EQ(reqs[1].path, "/io/in/A/3/mode");
  EXPECT_EQ(reqs[1].value, Bytes({0x81, 'S', 'T'}));
  EXPECT_EQ(reqs[2].value, Bytes({0xD0}));
  EXPECT_EQ(reqs[3].path, "/io/out/MOD/5/grp");
  EXPECT_EQ(reqs[3].value, Bytes({0x82, 'L', 'C', 'L'}));
  EXPECT_EQ(reqs[4].path, "/io/out/MOD/5/in");
  EXPECT_EQ(reqs[4].value, flt(7.0f));
}

TEST_F(WingCtl, BusGroupsTravelWithADollarAndAreLearnedAsGiven) {
  const struct {
    const char* given;
    const char* sent;
  } kGroups[] = {{"Main", "$MAIN"}, {"LCL", "LCL"}, {"BUSX", "BUSX"}};
  char wire[8];
  for (const auto& g : kGroups) {
    gm::wctl_wire_group(g.given, wire, sizeof wire);
    EXPECT_STREQ(wire, g.sent) << g.given;
  }

  answer("/io/in/$BUS/4/g", rec(0x0B000004, flt(2.5f)));
  double db = 0;
  ASSERT_TRUE(gm::wctl_get_gain("bus", 4, &db));
  EXPECT_EQ(db, 2.5);
  EXPECT_EQ(gm::wbin_known_hash("BUS", 4, "g"), 0x0B000004u);
  // The learned hash now guards the next read.
  answer("/io/in/$BUS/4/g", rec(0x0B000099, flt(9.0f)));
  EXPECT_FALSE(gm::wctl_get_gain("BUS", 4, &db));
  EXPECT_EQ(paths(), (std::vector<std::string>{"/io/in/$BUS/4/g", "/io/in/$BUS/4/g"}));
}

TEST_F(WingCtl, ModeReadsTakeOnlyModeTokensAndLearnFromThem) {
  char mode[8];
  answer("/io/in/LCL/6/mode", rec(0x0C060001, str("XY")));
  EXPECT_FALSE(gm::wctl_get_mode("LCL", 6, mode, sizeof mode));
  EXPECT_TRUE(
      host_.has_line("[mode] LCL 6 answered 'XY' - not a mode token, ignoring (stale reply?)"));
  EXPECT_EQ(gm::wbin_known_hash("LCL", 6, "mode"), 0u);
  answer("/io/in/LCL/6/mode", rec(0x0C060001, str("m/s")));
  ASSERT_TRUE(gm::wctl_get_mode("LCL", 6, mode, sizeof mode));
  EXPECT_STREQ(mode, "m/s");
  EXPECT_EQ(gm::wbin_known_hash("LCL", 6, "mode"), 0x0C060001u);
}

TEST_F(WingCtl, LeafReadsRefuseAnswersOfTheWrongKindAndLearnNothing) {
  gm::set_detail_level(2);
  double db = 0;
  answer("/io/in/LCL/3/g", rec(0x0D030001, {0x05}));
  EXPECT_FALSE(gm::wctl_get_gain("LCL", 3, &db));
  EXPECT_EQ(gm::wbin_known_hash("LCL", 3, "g"), 0u);
  EXPECT_TRUE(host_.has_line("[read] LCL 3/g answered value type 0x05 - not this leaf, ignoring"));

  int id = 0;
  answer("/io/in/LCL/3/$ha", rec(0x0D030003, flt(7.0f)));
  EXPECT_FALSE(gm::wctl_get_headamp("LCL", 3, &id));
  answer("/io/in/LCL/3/$ha", rec(0x0D030003, {0x07}));
  ASSERT_TRUE(gm::wctl_get_headamp("LCL", 3, &id));
  EXPECT_EQ(id, 7);
  EXPECT_EQ(gm::wbin_known_hash("LCL", 3, "$ha"), 0x0D030003u);

  // String and flag leaves of any name learn only from answers of their own kind.
  char text[16];
  answer("/io/in/A/5/name", rec(0x0F050001, str("Kick In")));
  ASSERT_TRUE(gm::wctl_get_input_leaf_str("A", 5, "name", text, sizeof text));
  EXPECT_STREQ(text, "Kick In");
  EXPECT_EQ(gm::wbin_known_hash("A", 5, "name"), 0x0F050001u);

  bool flag = false;
  answer("/io/in/A/5/lock", rec(0x0F050002, {0x01}));
  ASSERT_TRUE(gm::wctl_get_input_leaf_bool("A", 5, "lock", &flag));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(gm::wctl_get_input_leaf_bool("A", 65, "inv", &flag));
}

TEST_F(WingCtl, MuteCombinesTheHardAndTheSoftMute) {
  int state = -1;
  answer("/io/in/LCL/4/mute", rec(0x0E040001, {0x00}));
  answer("/io/in/LCL/4/$mute", rec(0x0E040002, {0x03}));
  ASSERT_TRUE(gm::wctl_get_mute("LCL", 4, &state));
  EXPECT_EQ(state, 2);

  answer("/io/in/LCL/7/mute", rec(0x0E070001, {0x01}));
  answer("/io/in/LCL/7/$mute", rec(0x0E070002, {0x03}));
  ASSERT_TRUE(gm::wctl_get_mute("LCL", 7, &state));
  EXPECT_EQ(state, 1);
}

TEST_F(WingCtl, PatchReadChecksGroupAndInput) {
  gm::set_detail_level(2);
  char grp[8];
  int input = 0;
  answer("/io/out/MOD/1/grp", rec(0x10010001, str("LC L")));
  EXPECT_FALSE(gm::wctl_get_patch("MOD", 1, grp, sizeof grp, &input));
  EXPECT_TRUE(
      host_.has_line("[patch] out MOD/1 grp answered 'LC L' - not a group token, ignoring"));

  answer("/io/out/MOD/3/grp", rec(0x10030001, str("A")));
  answer("/io/out/MOD/3/in", rec(0x10030002, {0xD3, 0x00, 0x41}));
  EXPECT_FALSE(gm::wctl_get_patch("MOD", 3, grp, sizeof grp, &input));
  EXPECT_TRUE(host_.has_line("[patch] out MOD/3 in answered 65 - out of range, ignoring"));
  EXPECT_EQ(gm::wbin_known_hash("MOD", 3, "in"), 0u);

  answer("/io/out/CRD/4/grp", rec(0x10040001, str("ABCDEF")));
  answer("/io/out/CRD/4/in", rec(0x10040002, {0x0C}));
  ASSERT_TRUE(gm::wctl_get_patch("CRD", 4, grp, sizeof grp, &input));
  EXPECT_STREQ(grp, "ABCDEF");
  EXPECT_EQ(input, 12);
  EXPECT_EQ(gm::wbin_known_hash("CRD", 4, "grp"), 0x10040001u);
  EXPECT_EQ(gm::wbin_known_hash("CRD", 4, "in"), 0x10040002u);
}

// A foreign record counts for no position here; a record cut short ends the walk without a read
// past the reply (fuzz_wctl_range).
TEST_F(WingCtl, ChannelListFindsGainAndPhantomAndPassesOtherNodesOn) {
  gm::wbin_hash_learn(0x11200001, "LCL", 20, "mute");
  pushes().clear();
  gm::wctl_on_push(PushLog::record);
  answer("/io/in/LCL/10",
         join({rec(0x11200001, {0x01}), rec(0x11100001, str("M")), rec(0x11100002, flt(12.5f)),
               rec(0x11100003, {0x01}), rec(0x11100004, {0x00}), Bytes{0xDE}}));
  double db = 0;
  bool phantom = false, found = false;
  ASSERT_TRUE(gm::wctl_get_channel("LCL", 10, &db, &phantom, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ(db, 12.5);
  EXPECT_TRUE(phantom);
  EXPECT_EQ(gm::wbin_known_hash("LCL", 10, "g"), 0x11100002u);
  EXPECT_EQ(gm::wbin_known_hash("LCL", 10, "vph"), 0x11100003u);
  EXPECT_EQ(pushes().lines(), std::vector<std::string>{"LCL 20/mute=1"});

  // Once learned, the hashes decide, wherever the records stand.
  answer("/io/in/LCL/10",
         join({rec(0x11100003, {0x00}), rec(0x11100001, str("M")), rec(0x11100004, {0x01}),
               rec(0x11100002, flt(-6.0f)), Bytes{0xDE}}));
  phantom = true;
  ASSERT_TRUE(gm::wctl_get_channel("LCL", 10, &db, &phantom, &found));
  EXPECT_EQ(db, -6.0);
  EXPECT_FALSE(phantom);
}

TEST_F(WingCtl, ChannelSourceReadsGroupInputAndName) {
  char name[16], grp[8];
  int input = -1;
  answer("/ch/3/in/conn/grp", rec(0x12030001, str("off")));
  ASSERT_TRUE(gm::wctl_get_ch_source(3, name, sizeof name, grp, sizeof grp, &input));
  EXPECT_STREQ(name, "");
  EXPECT_EQ(input, 0);
  EXPECT_EQ(paths(), std::vector<std::string>{"/ch/3/in/conn/grp"});

  answer("/ch/4/in/conn/grp", rec(0x12040001, str("LCL")));
  answer("/ch/4/in/conn/in", rec(0x12040002, {0x07}));
  answer("/ch/4/name", rec(0x12040003, str("Vox")));
  ASSERT_TRUE(gm::wctl_get_ch_source(4, name, sizeof name, grp, sizeof grp, &input));
  EXPECT_EQ(gm::wbin_known_hash("$ch", 4, "cgrp"), 0x12040001u);
  EXPECT_EQ(gm::wbin_known_hash("$ch", 4, "cin"), 0x12040002u);
  EXPECT_EQ(gm::wbin_known_hash("$ch", 4, "cnm"), 0x12040003u);
}

TEST_F(WingCtl, DeskWideReadsAndHashProbes) {
  char buf[16];
  answer("/$syscfg/opt_mod", rec(0x13000001, str("WLIVE2")));
  ASSERT_TRUE(gm::wctl_get_slot_type("MOD", buf, sizeof buf));
  EXPECT_STREQ(buf, "WLIVE2");
  answer("/cards/$type", rec(0x13000002, str("dante")));
  EXPECT_FALSE(gm::wctl_get_slot_type("CRD", buf, sizeof buf));
  EXPECT_STREQ(buf, "");

  // (Port boxes, the remote head-amp switch and the network lock as the desk holds them:
  // PatchModel.)
  bool on = false;
  answer("/$syscfg/tcplock", rec(0x13000006, flt(0.0f)));
  EXPECT_FALSE(gm::wctl_get_tcplock(&on));
  EXPECT_EQ(paths(),
            (std::vector<std::string>{"/$syscfg/opt_mod", "/cards/$type", "/$syscfg/tcplock"}));

  // A probe reports the hash and learns nothing.
  uint32_t hash = 0;
  answer("/io/out/CRD/9/in", rec(0x14090002, {0x03}));
  ASSERT_TRUE(gm::wctl_probe_hash_out("CRD", 9, "in", &hash, buf, sizeof buf));
  EXPECT_EQ(hash, 0x14090002u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(gm::wbin_known_hash("CRD", 9, "in"), 0u);
}

TEST(WctlRange, DefinitionParse) {
  double lo = 0, hi = 0, step = 0;
  const Bytes good = definition(-3.0f, 45.0f, 2);
  ASSERT_TRUE(gm::wctl_parse_range(good.data(), int(good.size()), &lo, &hi, &step));
  EXPECT_EQ(step, 48.0);
  const Bytes fine = definition(-12.0f, 60.0f, 145, 0x21, false);
  ASSERT_TRUE(gm::wctl_parse_range(fine.data(), int(fine.size()), &lo, &hi, &step));
  EXPECT_EQ(lo, -12.0);
  EXPECT_EQ(step, 0.5);
  const Bytes span200 = definition(-3.0f, 197.0f, 3);
  EXPECT_TRUE(gm::wctl_parse_range(span200.data(), int(span200.size()), &lo, &hi, &step));

  for (const Bytes& bad : {definition(-3.0f, 198.0f, 2), definition(-3.0f, 45.0f, 1),
                           definition(45.0f, 45.0f, 2), definition(45.0f, -3.0f, 2),
                           definition(-3.0f, 45.0f, 2, 0x30), definition(NAN, 45.0f, 2)}) {
    EXPECT_FALSE(gm::wctl_parse_range(bad.data(), int(bad.size()), &lo, &hi, &step));
  }
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_FALSE(gm::wctl_parse_range(good.data(), int(cut), &lo, &hi, &step)) << cut;
  }

  Bytes zero_len = good;  // a zero length field: four more bytes before the data
  zero_len[1] = zero_len[2] = 0;
  zero_len.insert(zero_len.begin() + 3, {0x00, 0x00, 0x00, 0x2E});
  ASSERT_TRUE(gm::wctl_parse_range(zero_len.data(), int(zero_len.size()), &lo, &hi, &step));
  EXPECT_EQ(hi, 45.0);
}

}  // namespace
