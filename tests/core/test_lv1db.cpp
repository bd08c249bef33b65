// LV1's session database: which consoles LV1 only borrows, read from databases the tests build
// the way LV1 keeps them (SQLite in write-ahead-log mode), and the watch on real files: changes
// call back, replaced files are watched again, and losing the Sessions folder stops the watch
// until it starts over.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "lv1db.h"
#include "lv1db_watch.h"
#include "support/eventually.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

using gmtest::read_file;
using std::chrono::milliseconds;

class Lv1Db : public gmtest::TempHomeTest {
 protected:
  ~Lv1Db() override { sqlite3_close(lv1_); }

  // LV1's database with these cards ("(id, vendor, device, owner), ..."). LV1's connection stays
  // open without automatic checkpoints, so later changes stay in its -wal file.
  void make_db(const std::string& cards) {
    sqlite3_close(lv1_);
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((gm::lv1_db_path() + suffix).c_str());
    ASSERT_EQ(sqlite3_open(gm::lv1_db_path().c_str(), &lv1_), SQLITE_OK);
    exec(
        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
        "CREATE TABLE device (id INTEGER PRIMARY KEY, owner_uuid TEXT);"
        "CREATE TABLE device_iobox (id INTEGER PRIMARY KEY, vendor_id INTEGER, device_id);"
        "CREATE TABLE card (id, vendor, device, owner); INSERT INTO card VALUES " +
        cards +
        ";"
        "INSERT INTO device SELECT id, owner FROM card;"
        "INSERT INTO device_iobox SELECT id, vendor, device FROM card;"
        "PRAGMA wal_checkpoint(TRUNCATE);");
  }
  void exec(const std::string& sql) {
    EXPECT_EQ(sqlite3_exec(lv1_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  }
  // "wing=<0|1> x32=<0|1>", or "failed".
  static std::string guests() {
    bool flags[2] = {true, true};
    if (!gm::lv1_guest_consoles(flags)) return "failed";
    return "wing=" + std::to_string(flags[0]) + " x32=" + std::to_string(flags[1]);
  }

  sqlite3* lv1_ = nullptr;
};

TEST_F(Lv1Db, WithoutADatabaseNothingIsAGuestAndAnUnreadableOneFails) {
  EXPECT_EQ(guests(), "wing=0 x32=0");
  home_.write("lv1.db", "this is not an SQLite database, only some text of LV1's");
  EXPECT_EQ(guests(), "failed");
}

// Own cards have no owner or one of only '0' and ':'; WING cards are devices 2 and 5 of vendor
// 11, X32 / M32 cards 0, 1, 3 and 4.
TEST_F(Lv1Db, AConsoleIsAGuestWhenAllItsCardsBelongToAnotherLv1) {
  const char* const cases[][2] = {
      {"(1, 11, 2, NULL), (2, 11, 0, '0000-0000')", "wing=0 x32=1"},
      {"(1, 11, 5, ''), (2, 11, 1, 'a')", "wing=0 x32=1"},
      {"(1, 11, 2, '00:01'), (2, 11, 3, '00:00:00')", "wing=1 x32=0"},
      {"(1, 11, 6, 'x'), (2, 11, -1, 'x'), (3, 12, 2, 'x')", "wing=0 x32=0"},
      {"(1, 11, 2, '00:00'), (2, 11, 5, 'peer'), (3, 11, 0, 'peer')", "wing=0 x32=1"},
  };
  for (const auto& c : cases) {
    make_db(c[0]);
    EXPECT_EQ(guests(), c[1]) << c[0];
  }
}

TEST_F(Lv1Db, AChangeStillInLv1sLogIsSeen) {
  make_db("(1, 11, 2, NULL)");
  EXPECT_EQ(guests(), "wing=0 x32=0");
  const std::string before = read_file(gm::lv1_db_path());
  exec("UPDATE device SET owner_uuid = '9f3a-0001' WHERE id = 1;");
  ASSERT_EQ(read_file(gm::lv1_db_path()), before) << "the change must sit in the log only";
  EXPECT_EQ(guests(), "wing=1 x32=0");
}

class Lv1DbWatch : public gmtest::TempHomeTest {
 protected:
  Lv1DbWatch() : dir_(home_.path() + "/Sessions"), db_(dir_ + "/CurrentLV1.dat") {
    gmtest::make_dirs(dir_);
    append(db_);
  }
  bool start() {
    return watch_.start(db_, [this] { ++calls_; });
  }
  static void append(const std::string& path) { std::ofstream(path, std::ios::app) << "page"; }

  // Appending to path (which makes no folder event) calls back within limit, once the watch
  // thread has handled what was pending.
  bool append_calls_back(const std::string& path, milliseconds limit = milliseconds(3000)) {
    int before;
    do {
      before = calls_;
      std::this_thread::sleep_for(milliseconds(200));
    } while (calls_ != before);
    append(path);
    return gmtest::eventually([&] { return calls_ > before; }, limit);
  }

  const std::string dir_, db_;
  std::atomic<int> calls_{0};
  gm::SessionWatch watch_;  // last: its thread stops before the members it calls back into
};

TEST_F(Lv1DbWatch, ChangesAndReplacedFilesCallBack) {
  ASSERT_TRUE(start());
  EXPECT_TRUE(start());
  EXPECT_TRUE(append_calls_back(db_));

  ASSERT_EQ(unlink(db_.c_str()), 0);
  append(db_);
  EXPECT_TRUE(append_calls_back(db_)) << "the replaced database is watched";
  append(db_ + "-wal");
  EXPECT_TRUE(append_calls_back(db_ + "-wal")) << "a log that appears later is watched";
  EXPECT_FALSE(append_calls_back(home_.path() + "/elsewhere.dat", milliseconds(500)));
}

TEST_F(Lv1DbWatch, LosingTheFolderStopsWatchingUntilTheNextStart) {
  ASSERT_TRUE(start());
  ASSERT_EQ(rename(dir_.c_str(), (dir_ + ".old").c_str()), 0);
  EXPECT_TRUE(gmtest::eventually([&] { return !watch_.watching(); }));
  EXPECT_FALSE(append_calls_back(dir_ + ".old/CurrentLV1.dat", milliseconds(500)));
  EXPECT_FALSE(start()) << "no folder to watch";

  gmtest::make_dirs(dir_);
  append(db_);
  ASSERT_TRUE(start());
  EXPECT_TRUE(append_calls_back(db_));
}

}  // namespace
