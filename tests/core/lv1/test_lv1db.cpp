// LV1's session database: which consoles LV1 only borrows, read from databases the tests build
// the way LV1 keeps them (SQLite in write-ahead-log mode), and the watch on real files: changes
// call back, replaced files are watched again, and losing the Sessions folder stops the watch
// until it starts over.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "guest_watch.h"
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
    make_schema(
        "CREATE TABLE device (id INTEGER PRIMARY KEY, owner_uuid TEXT);"
        "CREATE TABLE device_iobox (id INTEGER PRIMARY KEY, vendor_id INTEGER, device_id);"
        "CREATE TABLE card (id, vendor, device, owner); INSERT INTO card VALUES " +
        cards +
        ";"
        "INSERT INTO device SELECT id, owner FROM card;"
        "INSERT INTO device_iobox SELECT id, vendor, device FROM card;");
  }
  void make_schema(const std::string& sql) {
    sqlite3_close(lv1_);
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((gm::lv1_db_path() + suffix).c_str());
    ASSERT_EQ(sqlite3_open(gm::lv1_db_path().c_str(), &lv1_), SQLITE_OK);
    exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;" + sql +
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

// Anyone may write LV1's Sessions folder. A database made to hang the reader, fill the disk or
// lead it to another file reads as sharing nothing, within a second each time, and says why in
// the log once; the next sound database is read again.
TEST_F(Lv1Db, AHostileDatabaseReadsAsNothingSharedWithinASecond) {
  const std::string db = gm::lv1_db_path();
  const off_t over_cap = (64 << 20) + 1;
  const auto sparse = [](const std::string& path, off_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_TRUE(fd >= 0 && ftruncate(fd, size) == 0);
    close(fd);
  };
  const auto guest_db_elsewhere = [&] {
    make_db("(1, 11, 2, 'peer')");
    sqlite3_close(lv1_);
    lv1_ = nullptr;
    ASSERT_EQ(rename(db.c_str(), (db + ".real").c_str()), 0);
  };
  struct Case {
    const char* what;
    std::function<void()> make;
    const char* why;
  } cases[] = {
      {"an endless view",
       [&] {
         make_schema(
             "CREATE VIEW device AS WITH RECURSIVE n(id) AS (SELECT 1 UNION ALL SELECT id + 1 "
             "FROM n) SELECT id, 'peer' AS owner_uuid FROM n;"
             "CREATE VIEW device_iobox AS SELECT id, 11 AS vendor_id, 2 AS device_id FROM device;");
       },
       "reading it takes longer than 500 ms"},
      {"a database over the cap", [&] { make_db("(1, 11, 2, 'peer')"), sparse(db, over_cap); },
       "lv1.db is larger than 64 MiB"},
      {"a log over the cap", [&] { make_db("(1, 11, 2, 'peer')"), sparse(db + "-wal", over_cap); },
       "lv1.db-wal is larger than 64 MiB"},
      {"a link to a guest database",
       [&] { guest_db_elsewhere(), symlink((db + ".real").c_str(), db.c_str()); },
       "lv1.db is reached through a link"},
      {"a pipe that nobody writes", [&] { guest_db_elsewhere(), mkfifo(db.c_str(), 0644); },
       "lv1.db is not a plain file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    for (int pass = 0; pass < 2; ++pass) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(guests(), "wing=0 x32=0");
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    const std::string line = std::string("guest: LV1's session database not read (") + c.why +
                             ") - no console counts as shared\n";
    const std::string text = home_.app_log();
    EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_EQ(text.find(line), text.rfind(line)) << "logged once";
    std::error_code ec;
    uintmax_t copied = 0;
    for (const auto& f : std::filesystem::directory_iterator(gm::support_dir() + "/lv1db", ec))
      copied += f.file_size();
    EXPECT_LT(copied, 1u << 20) << "nothing large was copied";

    std::filesystem::remove(db);
    make_db("(1, 11, 2, 'peer')");
    EXPECT_EQ(guests(), "wing=1 x32=0");
  }
}

// LV1 writes its session in bursts. Without waiting: five changes 100 ms apart are read once,
// 250 ms after the last; changes that never stop are read 2 s after the first; a change while a
// pass reads is not lost; without changes a pass follows 15 s later, or when the pass asks.
TEST(GuestWatch, ABurstOfChangesIsReadOnceWhenItEndsAndNeverLaterThanTwoSeconds) {
  gm::GuestWake w;
  w.pass_begins();
  w.pass_ends(1000, gm::GuestWake::kNever);
  EXPECT_EQ(w.due(), 16000);
  for (int64_t t = 2000; t <= 2400; t += 100) {
    w.changed(t);
    EXPECT_EQ(w.due(), t + 250) << "no pass before the next change";
  }
  w.pass_begins();
  w.pass_ends(2650, 5650);
  EXPECT_EQ(w.due(), 5650) << "the pass's own wish";
  for (int64_t t = 3000; t < 6000; t += 200) w.changed(t);
  EXPECT_EQ(w.due(), 5000);

  w.pass_begins();
  w.changed(7000);
  w.pass_ends(6990, gm::GuestWake::kNever);
  EXPECT_EQ(w.due(), 7250);
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
