// Demo mode: every scenario name the app and the render tool use is known, an unknown one leaves
// demo mode off, each scenario starts from a clean record, and the scenarios that show the
// dashboard's harder states really reach them on the page.
#include <gtest/gtest.h>

#include <string>

#include "api.h"
#include "support/temp_home.h"

namespace {

const char* const kNames[] = {
    "setup-first",      "setup-rig",        "setup-x32",           "setup-looking",
    "setup-off",        "setup-trouble",    "setup-lost",          "setup-blocked",
    "setup-modblocked", "setup-choose",     "setup-pingone",       "setup-extracard",
    "setup-aes50",      "setup-aes50-both", "setup-noslot",        "setup-netblocked",
    "setup-unseen",     "setup-remembered", "setup-shared",        "setup-translocated",
    "setup-fromdmg",    "setup-adminfree",  "setup-lv1off",        "setup-gonedesk",
    "setup-netask",     "setup-netwait",    "setup-perms",         "setup-netself",
    "setup-macos14",    "setup-refind",     "setup-moved",         "setup-ipother",
    "setup-ipsilent",   "setup-notfound",   "setup-addr",          "setup-addr-set",
    "setup-update",     "setup-nothing",    "setup-nothing-addr",  "setup-nothing-addr-open",
    "setup-nolv1",      "setup-reopen",     "setup-migrate",       "setup-cfm-update",
    "setup-cfm-off",    "setup-cfm-remove", "setup-cfm-remove-lv1"};

// The text of console card c (0 or 1) in the page, up to the next card; "" when absent.
std::string card(const std::string& page, int c) {
  const size_t at = page.find("{\"c\":" + std::to_string(c) + ",\"name\"");
  if (at == std::string::npos) return "";
  return page.substr(at, page.find("{\"c\":", at + 1) - at);
}

std::string scenario_page(const char* name) {
  EXPECT_TRUE(gm_fake(name)) << name;
  return gm_snapshot();
}

TEST(Fake, EveryScenarioIsKnownAndAnUnknownOneLeavesDemoModeOff) {
  gmtest::TempHome home;
  for (const char* name : kNames) {
    const std::string page = scenario_page(name);
    EXPECT_NE(page.find("\"fakeModal\":"), std::string::npos) << name;
  }
  EXPECT_FALSE(gm_fake("setup-nowhere"));
  EXPECT_EQ(std::string(gm_snapshot()).find("\"fakeModal\""), std::string::npos);
  EXPECT_FALSE(gm_fake(nullptr));
  EXPECT_FALSE(gm_fake("Setup-rig"));
}

TEST(Fake, ScenariosReachTheirStatesOnThePage) {
  gmtest::TempHome home;
  struct Case {
    const char* name;
    int c;  // the card to look in, -1 for the whole page
    const char* expect;
  } cases[] = {
      {"setup-nothing", -1, "\"nothing\":true"},
      {"setup-cfm-off", -1, "\"pill\":\"All consoles connected\""},
      {"setup-cfm-off", -1, "\"fakeModal\":\"off\",\"fakeModalCon\":0"},
      {"setup-rig", 1, "\"state\":6,"},
      {"setup-rig", -1, "\"fakeOpen\":[true,false]"},
      {"setup-lost", 0, "\"state\":1,"},
      {"setup-lost", 0, "No answer for 2 min."},
      {"setup-lost", 1, "\"state\":3,"},
      {"setup-modblocked", 0, "\"state\":4,"},
      {"setup-pingone", 0, "\"state\":12,"},
      {"setup-ipother", 0, "\"state\":16,"},
      {"setup-ipsilent", 1, "Nothing answers at 192.168.1.90"},
      {"setup-aes50", 1, "No gain knobs on 32 strips"},
      {"setup-netblocked", 1, "\"state\":13,"},
      {"setup-nothing-addr-open", -1, "\"fakeModal\":\"addr\",\"fakeModalCon\":1"},
  };
  for (const Case& k : cases) {
    const std::string page = scenario_page(k.name);
    const std::string where = k.c < 0 ? page : card(page, k.c);
    EXPECT_NE(where.find(k.expect), std::string::npos) << k.name << ": " << k.expect;
  }
}

TEST(Fake, ALaterScenarioStartsFromACleanRecord) {
  gmtest::TempHome home;
  scenario_page("setup-lost");
  const std::string page = scenario_page("setup-rig");
  EXPECT_NE(card(page, 0).find("\"state\":10,"), std::string::npos);
  EXPECT_NE(page.find("\"fakeModal\":\"\",\"fakeModalCon\":-1"), std::string::npos);
  EXPECT_NE(scenario_page("setup-nothing").find("\"fakeOpen\":[false,false]"), std::string::npos);
}

}  // namespace
