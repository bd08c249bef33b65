// The LV1 stand-in's session database as the app reads it, while LV1 keeps it open: sharing the
// WING card from another LV1 makes this LV1 a guest of that console; owning it again ends that.
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
  EXPECT_EQ(guests(), "wing=0 x32=0");
  lv1.cmd("share wing 9f3a1c00-5e21-4b7d");
  EXPECT_EQ(guests(), "wing=1 x32=0");
  lv1.cmd("own wing");
  EXPECT_EQ(guests(), "wing=0 x32=0");
  EXPECT_TRUE(gmtest::holds_open(lv1.pid(), gm::lv1_db_path()));
}

}  // namespace
