// Console choice: which console is adopted, which identity is followed after a dropout, and the
// verdict on the address typed in Setup.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "desk_choose.h"

namespace {

using gm::DeskFound;

DeskFound desk(const char* id, int card = -1, const char* ip = "10.0.0.20") {
  DeskFound d{};
  std::snprintf(d.ip, sizeof d.ip, "%s", ip);
  std::snprintf(d.id, sizeof d.id, "%s", id);
  d.card = card;
  return d;
}

// Runs desk_choose over consoles with the given cards (ids S0, S1, ...); returns {index, why}.
std::pair<int, int> choose_cards(const std::vector<int>& cards, const char* pin = "") {
  std::vector<DeskFound> found;
  for (size_t i = 0; i < cards.size(); ++i) {
    found.push_back(desk(("S" + std::to_string(i)).c_str(), cards[i]));
  }
  int why = -7;
  const int index = gm::desk_choose(found.data(), static_cast<int>(found.size()), pin, &why);
  return {index, why};
}

using Pick = std::pair<int, int>;

TEST(DeskChoose, PinFirstThenTheOnlyOneThenTheOnlyCardCarrierWithNoUnknowns) {
  const struct {
    std::vector<int> cards;  // -1: not known
    const char* pin;
    Pick want;
  } cases[] = {
      {{}, "S0", {-1, 0}},  // nothing answered chooses nothing, even with a pin
      // The pinned console is taken by id ignoring case, even without a card; when it is
      // missing none of the others is.
      {{1, 0}, "s1", {1, 2}},
      {{1, 0, -1}, "S", {-1, 5}},
      // A single console unless it is known to have no card.
      {{-1}, nullptr, {0, 1}},
      {{0}, "", {-1, 4}},
      // Among several, only the one card carrier with no unknowns.
      {{0, 0, 1}, "", {2, 3}},
      {{1, -1}, "", {-1, 4}},
      {{1, 1}, "", {-1, 4}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose_cards(c.cards, c.pin), c.want)
        << testing::PrintToString(c.cards) << " pin " << (c.pin ? c.pin : "null");
  }
  // Of two consoles with the pinned id, the first.
  int why = -7;
  const DeskFound found[] = {desk("W-100", 1), desk("abc-2", 0), desk("ABC-2", 1)};
  EXPECT_EQ(gm::desk_choose(found, 3, "Abc-2", &why), 1);
  EXPECT_EQ(why, 2);
}

TEST(DeskIdentity, OnlySerialLikeIdsAreStable) {
  for (const char* id : {"S1234567", "1.2.3", "1234.1.1.1"}) EXPECT_TRUE(gm::desk_id_stable(id));
  for (const char* id : {"", "NAME:foh", "192.168.1.20"}) EXPECT_FALSE(gm::desk_id_stable(id));
}

// Pin, adopted id, identity followed. A console that gave no serial (id = its address) is never
// looked for elsewhere; a pin naming another console than the adopted one gives none.
TEST(DeskRefind, IdentityFollowsThePinOrAStableAdoptedIdAndIsDueAfterTwentySecondsDown) {
  const char* cases[][3] = {{nullptr, "S1", "S1"}, {"", "10.0.0.7", ""}, {"", "name:FOH", ""},
                            {"S1", nullptr, "S1"}, {"S1", "s1", "S1"},   {"S1", "S2", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(gm::refind_identity(c[0], c[1]), c[2])
        << (c[0] ? c[0] : "null") << " / " << (c[1] ? c[1] : "null");
  }
  EXPECT_FALSE(gm::refind_due(false, 19999, "S1"));
  EXPECT_TRUE(gm::refind_due(false, 20000, "S1"));
  EXPECT_FALSE(gm::refind_due(true, 20000, "S1"));
  EXPECT_FALSE(gm::refind_due(false, 20000, ""));
}

TEST(DeskRefind, ChoosesTheFirstConsoleCarryingTheIdentity) {
  const DeskFound found[] = {desk("S9"), desk("s1", -1, "10.0.0.31"), desk("S1", -1, "10.0.0.32")};
  EXPECT_EQ(gm::refind_choose(found, 3, "", "S1"), 1);
  EXPECT_EQ(gm::refind_choose(found, 3, "S1", "s1"), 1);
  EXPECT_EQ(gm::refind_choose(found, 3, nullptr, "S9"), 0);
  EXPECT_EQ(gm::refind_choose(found, 3, "", "S7"), -1);
  EXPECT_EQ(gm::refind_choose(found, 3, "S9", "S1"), -1);
}

TEST(DeskRefind, SameConsoleAtAnAddress) {
  const DeskFound serial = desk("S1234567");
  EXPECT_EQ(gm::same_console_at(&serial, "s1234567"), 1);
  EXPECT_EQ(gm::same_console_at(&serial, "S7654321"), 0);
  // Unknown: one id cut short inside the other, an address or a name for an id, no id at all.
  for (const char* id : {"S12345", "10.0.0.20", "name:FOH", ""}) {
    EXPECT_EQ(gm::same_console_at(&serial, id), -1) << id;
  }
  const DeskFound by_address = desk("10.0.0.20");
  EXPECT_EQ(gm::same_console_at(&by_address, "10.0.0.21"), -1);
}

TEST(DeskManualIp, VerdictOnTheTypedAddress) {
  const DeskFound s1 = desk("S1"), no_id = desk("");
  const struct {
    const DeskFound* found;
    const char* console;
    int silent_sweeps, verdict;
  } cases[] = {{&s1, nullptr, 5, 0},  {&s1, "s1", 0, 0},   {&s1, "S2", 0, 1},  {&no_id, "S1", 0, 1},
               {nullptr, "S1", 9, 2}, {nullptr, "", 2, 3}, {nullptr, "", 3, 4}};
  for (const auto& c : cases) {
    EXPECT_EQ(gm::manual_ip_verdict(c.found, c.console, c.silent_sweeps), c.verdict)
        << (c.found ? c.found->id : "nothing") << " / " << (c.console ? c.console : "null") << " / "
        << c.silent_sweeps;
  }
}

}  // namespace
