// The LV1 stand-in's session database as the app reads it: sharing the WING card from another
// LV1 makes this LV1 a guest of that console, owning it again ends that, while LV1 keeps its
// database open.
#include <gtest/gtest.h>

#include <string>

#include "lv1db.h"
#include "support/lv1host_process.h"
#include "support/temp_home.h"

namespace {

std::string guests() {
  bool flags[2] = {true, true};
  if (!gm::lv1_guest_consoles(flags)) return "failed";
  return "wing=" + std::to_string(flags[0]) + " x32=" + std::to_string(flags[1]);
}

TEST(Lv1DbWithLv1Host, SharingAndOwningTheWingCardIsSeenWhileLv1Runs) {
  gmtest::TempHome home;
  gmtest::Lv1HostProcess lv1(home);
  ASSERT_TRUE(gmtest::holds_open(lv1.pid(), gm::lv1_db_path()));
  EXPECT_EQ(guests(), "wing=0 x32=0");

  lv1.cmd("share wing 9f3a1c00-5e21-4b7d");
  ASSERT_TRUE(lv1.ok()) << lv1.error();
  EXPECT_EQ(guests(), "wing=1 x32=0");

  lv1.cmd("extra wing 1");
  EXPECT_EQ(guests(), "wing=0 x32=0") << "a further WING card of LV1's own";
  lv1.cmd("extra wing 0");
  lv1.cmd("share x32 00:1c:ab:00:00:09");
  EXPECT_EQ(guests(), "wing=1 x32=0") << "the X32 card is not in a rack slot";

  lv1.cmd("own wing");
  ASSERT_TRUE(lv1.ok()) << lv1.error();
  EXPECT_EQ(guests(), "wing=0 x32=0");
  EXPECT_TRUE(gmtest::holds_open(lv1.pid(), gm::lv1_db_path()));
}

}  // namespace
