// Demo mode: every scenario name the app and the render tool use is known, an unknown one leaves
// demo mode off, each scenario starts from a clean record, and the scenarios that show the
// dashboard's harder states really reach them on the page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "api.h"
#include "model.h"
#include "model_fake.h"
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
      {"setup-refind", 0, "\"state\":15,"},
      {"setup-shared", 0, "\"state\":14,"},
      {"setup-noslot", 0, "\"state\":6,"},
      {"setup-trouble", 1, "\"state\":2,"},
      {"setup-extracard", 0, "LV1 has another WSG card in a rack slot."},
      {"setup-moved", 0, "Gainmesh followed it to 192.168.1.62."},
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

TEST(Fake, SnapshotFollowsTheRecordsRules) {
  gmtest::TempHome home;
  gm_fake("setup-blocked");  // the loader never appeared: its entries are not read
  gm::Inputs in = gm::fake_inputs();
  EXPECT_FALSE(in.loader_ok);
  EXPECT_TRUE(in.loader_blocked);
  EXPECT_EQ(in.status[0].version, 17u);
  EXPECT_TRUE(in.status[0].valid && !in.status[0].connected);
  gm_fake("setup-cfm-update");  // LV1 closed: no age, the WING still legacy and connected
  in = gm::fake_inputs();
  EXPECT_EQ(in.lv1_uptime_ms, -1);
  EXPECT_TRUE(in.legacy[0] && in.legacy[1] && in.legacy_any);
  EXPECT_FALSE(in.installed[0] || in.enabled[0]);
  gm_fake("setup-nolv1");
  in = gm::fake_inputs();
  EXPECT_TRUE(!in.lv1_installed && in.lv1_version.empty());
  EXPECT_EQ(in.found[0].ip, "192.168.1.62");
  gm_fake("setup-off");  // switched off counts as not enabled; nothing was lost
  in = gm::fake_inputs();
  EXPECT_TRUE(in.installed[0] && !in.enabled[0] && in.enabled[1]);
  EXPECT_EQ(in.since_answer_ms[0], -1);
  gm_fake("setup-aes50-both");  // A and B each feed 16 strips, none with a local preamp
  in = gm::fake_inputs();
  EXPECT_EQ(in.status[1].port_count, 2u);
  EXPECT_EQ(gm::preamp_summary(in.status[1]), "");
  EXPECT_EQ(gm::preamp_summary(in.status[0]), "Local 1\u201324 \u00b7 AES50 A 1\u201314");
}

// The page of every scenario against tests/golden/<scenario>.json, byte for byte, with the app's
// own version replaced so that a release does not touch them. GAINMESH_UPDATE_GOLDEN=1 rewrites
// the files instead, for a change of the pages that is meant.
TEST(Fake, PagesMatchTheGoldenFiles) {
  gmtest::TempHome home;
  const char* update = getenv("GAINMESH_UPDATE_GOLDEN");
  const bool rewrite = update && std::string(update) == "1";
  for (const char* name : kNames) {
    std::string page = scenario_page(name);
    const std::string key = "\"version\":\"Gainmesh ";
    const size_t at = page.rfind(key);
    ASSERT_NE(at, std::string::npos) << name;
    page.replace(at + key.size(), page.find('"', at + key.size()) - at - key.size(), "VERSION");
    page += "\n";
    const std::string path = std::string(GM_GOLDEN_DIR) + "/" + name + ".json";
    if (rewrite) {
      std::ofstream(path, std::ios::binary) << page;
      continue;
    }
    std::ifstream f(path, std::ios::binary);
    std::stringstream want;
    want << f.rdbuf();
    EXPECT_TRUE(f.is_open()) << path << " is missing; GAINMESH_UPDATE_GOLDEN=1 writes it";
    EXPECT_EQ(page, want.str()) << name;
  }
}

}  // namespace
