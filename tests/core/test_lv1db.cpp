// Which consoles LV1 only borrows, read from session databases the tests build the way LV1 keeps
// them (SQLite in write-ahead-log mode).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lv1db.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

using gmtest::file_exists;
using gmtest::read_file;

struct Card {
  int vendor;
  int device;
  const char* owner;  // nullptr: NULL
};

class Lv1Db : public gmtest::TempHomeTest {
 protected:
  ~Lv1Db() override { sqlite3_close(lv1_); }

  // LV1's database with these cards. LV1's connection stays open without automatic
  // checkpoints, so that later changes stay in its -wal file.
  void make_db(const std::vector<Card>& cards) {
    sqlite3_close(lv1_);
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((gm::lv1_db_path() + suffix).c_str());
    ASSERT_EQ(sqlite3_open(gm::lv1_db_path().c_str(), &lv1_), SQLITE_OK);
    exec(
        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
        "CREATE TABLE device (id INTEGER PRIMARY KEY, owner_uuid TEXT, name TEXT);"
        "CREATE TABLE device_iobox (id INTEGER PRIMARY KEY, vendor_id INTEGER,"
        " device_id INTEGER, slot INTEGER);");
    int id = 1;
    for (const Card& c : cards) {
      const std::string owner = c.owner ? "'" + std::string(c.owner) + "'" : "NULL";
      const std::string n = std::to_string(id++);
      exec("INSERT INTO device VALUES (" + n + ", " + owner + ", 'card');" +
           "INSERT INTO device_iobox VALUES (" + n + ", " + std::to_string(c.vendor) + ", " +
           std::to_string(c.device) + ", " + n + ");");
    }
    exec("PRAGMA wal_checkpoint(TRUNCATE);");
  }
  void exec(const std::string& sql) {
    char* msg = nullptr;
    EXPECT_EQ(sqlite3_exec(lv1_, sql.c_str(), nullptr, nullptr, &msg), SQLITE_OK)
        << (msg ? msg : "") << " in " << sql;
    sqlite3_free(msg);
  }
  // "wing=<0|1> x32=<0|1>", or "failed".
  static std::string guests() {
    bool flags[2] = {true, true};
    if (!gm::lv1_guest_consoles(flags)) return "failed";
    return "wing=" + std::to_string(flags[0]) + " x32=" + std::to_string(flags[1]);
  }

  sqlite3* lv1_ = nullptr;
};

TEST_F(Lv1Db, WithoutADatabaseNothingIsAGuestAndNothingIsWritten) {
  EXPECT_EQ(guests(), "wing=0 x32=0");
  EXPECT_FALSE(file_exists(gm::support_dir()));
  EXPECT_FALSE(file_exists(home_.logs_dir()));
}

TEST_F(Lv1Db, OnlyAnOwnerMadeOfZerosAndColonsIsThisLv1) {
  struct Case {
    const char* owner;
    bool guest;
  } cases[] = {
      {nullptr, false},
      {"", false},
      {"00:00:00:00:00:00", false},
      {"0000", false},
      {":", false},
      {"0000-0000", true},
      {"00:00:00:00:00:01", true},
      {"a", true},
      {"9F3A1C00-5E21-4B7D", true},
      {" 0", true},
  };
  for (const Case& c : cases) {
    make_db({{11, 2, c.owner}});
    EXPECT_EQ(guests(), c.guest ? "wing=1 x32=0" : "wing=0 x32=0") << (c.owner ? c.owner : "NULL");
  }
}

TEST_F(Lv1Db, TheDeviceIdOfAWavesCardSaysWhichConsoleItServes) {
  struct Case {
    int vendor, device;
    const char* expect;
  } cases[] = {
      {11, 2, "wing=1 x32=0"}, {11, 5, "wing=1 x32=0"},  {11, 0, "wing=0 x32=1"},
      {11, 1, "wing=0 x32=1"}, {11, 3, "wing=0 x32=1"},  {11, 4, "wing=0 x32=1"},
      {11, 6, "wing=0 x32=0"}, {11, -1, "wing=0 x32=0"}, {12, 2, "wing=0 x32=0"},
  };
  for (const Case& c : cases) {
    make_db({{c.vendor, c.device, "peer"}});
    EXPECT_EQ(guests(), c.expect) << c.vendor << "/" << c.device;
  }
}

TEST_F(Lv1Db, OneOwnCardOfATypeKeepsTheTypeOwn) {
  make_db({{11, 2, "00:00"}, {11, 5, "peer"}, {11, 0, "peer"}, {11, 3, "-"}, {7, 0, nullptr}});
  EXPECT_EQ(guests(), "wing=0 x32=1");
}

TEST_F(Lv1Db, ADatabaseThatCannotBeQueriedFails) {
  home_.write("lv1.db", "this is not an SQLite database, only some text of LV1's");
  ASSERT_EQ(gm::lv1_db_path(), home_.path() + "/lv1.db");
  EXPECT_EQ(guests(), "failed");

  make_db({{11, 2, "peer"}});
  exec("DROP TABLE device_iobox;");
  EXPECT_EQ(guests(), "failed");
}

TEST_F(Lv1Db, AChangeStillInLv1sLogIsSeen) {
  make_db({{11, 2, nullptr}});
  EXPECT_EQ(guests(), "wing=0 x32=0");
  const std::string before = read_file(gm::lv1_db_path());

  exec("UPDATE device SET owner_uuid = '9f3a-0001' WHERE id = 1;");
  ASSERT_EQ(read_file(gm::lv1_db_path()), before) << "the change must sit in the log only";
  EXPECT_EQ(guests(), "wing=1 x32=0");

  // LV1 checkpoints and closes: its log is gone, the change is in the database itself.
  sqlite3_close(lv1_);
  lv1_ = nullptr;
  ASSERT_FALSE(file_exists(gm::lv1_db_path() + "-wal"));
  EXPECT_EQ(guests(), "wing=1 x32=0");
}

}  // namespace
