// The session database watch on real files: changes call back, replaced files are watched again,
// and losing the Sessions folder stops the watch until it starts over.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "lv1db_watch.h"
#include "support/eventually.h"
#include "support/temp_home.h"

namespace {

using gmtest::eventually;

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
  // The number of calls once the watch thread has had time to handle what is pending.
  int settled() {
    int last;
    do {
      last = calls_;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } while (calls_ != last);
    return last;
  }
  // Appending to path (which makes no folder event) calls back within limit.
  bool append_calls_back(const std::string& path,
                         std::chrono::milliseconds limit = std::chrono::seconds(3)) {
    const int before = settled();
    append(path);
    return eventually([&] { return calls_ > before; }, limit);
  }
  static constexpr std::chrono::milliseconds kQuiet{500};  // for a call that must not come
  int logged_starts() const {
    const std::string log = gmtest::read_file(home_.logs_dir() + "/gainmesh-app.log");
    int n = 0;
    for (size_t at = 0; (at = log.find("guest: watching " + dir_ + "\n", at)) != std::string::npos;
         ++at) {
      ++n;
    }
    return n;
  }

  const std::string dir_, db_;
  std::atomic<int> calls_{0};
  gm::SessionWatch watch_;  // last: its thread stops before the members it calls back into
};

TEST_F(Lv1DbWatch, ChangesAndReplacedFilesCallBack) {
  ASSERT_TRUE(start());
  EXPECT_TRUE(start());
  EXPECT_EQ(logged_starts(), 1);
  EXPECT_TRUE(append_calls_back(db_));

  ASSERT_EQ(unlink(db_.c_str()), 0);
  append(db_);
  EXPECT_TRUE(append_calls_back(db_)) << "the replaced database is watched";

  append(db_ + "-wal");
  EXPECT_TRUE(append_calls_back(db_ + "-wal")) << "a log that appears later is watched";
  EXPECT_FALSE(append_calls_back(home_.path() + "/elsewhere.dat", kQuiet));
}

TEST_F(Lv1DbWatch, LosingTheFolderStopsWatchingUntilTheNextStart) {
  ASSERT_TRUE(start());
  ASSERT_EQ(rename(dir_.c_str(), (dir_ + ".old").c_str()), 0);
  EXPECT_TRUE(eventually([&] { return !watch_.watching(); }));
  EXPECT_FALSE(append_calls_back(dir_ + ".old/CurrentLV1.dat", kQuiet));
  EXPECT_FALSE(start()) << "no folder to watch";

  gmtest::make_dirs(dir_);
  append(db_);
  ASSERT_TRUE(start());
  EXPECT_EQ(logged_starts(), 2);
  EXPECT_TRUE(append_calls_back(db_));
}

}  // namespace
