// Demo mode: an unknown scenario leaves demo mode off, each scenario starts from a clean record,
// and the page of every scenario the app and the render tool use is pinned by a golden file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
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

// Every scenario is known: the golden files below are made from each of them.
TEST(Fake, AnUnknownScenarioLeavesDemoModeOff) {
  gmtest::TempHome home;
  scenario_page("setup-rig");
  EXPECT_FALSE(gm_fake("setup-nowhere"));
  EXPECT_EQ(std::string(gm_snapshot()).find("\"fakeModal\""), std::string::npos);
  EXPECT_FALSE(gm_fake(nullptr));
}

TEST(Fake, ALaterScenarioStartsFromACleanRecord) {
  gmtest::TempHome home;
  scenario_page("setup-lost");
  const std::string page = scenario_page("setup-rig");
  EXPECT_NE(card(page, 0).find("\"state\":10,"), std::string::npos);
  EXPECT_NE(page.find("\"fakeModal\":\"\",\"fakeModalCon\":-1"), std::string::npos);
  EXPECT_NE(scenario_page("setup-nothing").find("\"fakeOpen\":[false,false]"), std::string::npos);
}

// An X32 / M32 that no scan found and whose card the loader never saw in a rack slot gets no card;
// a remembered address brings it back.
TEST(Fake, AnUnseenConsoleIsHiddenUntilItsAddressIsRemembered) {
  gmtest::TempHome home;
  const std::string unseen = scenario_page("setup-unseen");
  EXPECT_EQ(card(unseen, 1), "");
  EXPECT_NE(card(unseen, 0).find("\"state\":10,"), std::string::npos);
  EXPECT_NE(card(scenario_page("setup-remembered"), 1).find("\"state\":5,"), std::string::npos);
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
