// Finding LV1 and its open status blocks on a crowded machine, against a process table of the
// test's own: the answers stay those of a full look, and the work done does not grow with the
// number of processes or descriptors while nothing changes.
#include <gtest/gtest.h>

#include <map>

#include "block_watch.h"
#include "lv1.h"
#include "lv1_finder.h"

namespace {

struct Proc {
  std::string name;
  int64_t start_us;
};

class FakeTable : public gm::ProcessTable {
 public:
  std::vector<uint32_t> ids() override {
    ++listings;
    std::vector<uint32_t> out;
    for (const auto& [pid, p] : procs) out.push_back(pid);
    return out;
  }
  std::string name(uint32_t pid) override {
    ++names_read;
    const auto it = procs.find(pid);
    return it == procs.end() ? "" : it->second.name;
  }
  int64_t start_us(uint32_t pid) override {
    const auto it = procs.find(pid);
    return it == procs.end() ? -1 : it->second.start_us;
  }
  uint64_t creation_mark() override { return mark; }
  // A machine with `n` other processes, pids 1000 and up.
  void crowd(int n) {
    for (int i = 0; i < n; ++i) procs[1000 + i] = {"daemon", i};
  }
  std::map<uint32_t, Proc> procs;
  uint64_t mark = 0;
  int listings = 0, names_read = 0;
};

TEST(Lv1Finder, AnswersFromTheKnownLv1AndReadsOnlyNewNamesWhileSearching) {
  FakeTable table;
  table.crowd(500);
  gm::Lv1Finder finder;
  int64_t now = 0;
  EXPECT_EQ(finder.find(table, now).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 2000).pid, 0u);  // the second look after a first listing
  table.names_read = 0;
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(table.names_read, 0) << "nothing new, nothing read";

  // LV1 starts between two ticks: seen on the next, by its name alone.
  table.procs[4000] = {gm::kLv1ProcessName, 77};
  EXPECT_EQ(finder.find(table, now += 1000).pid, 4000u);
  EXPECT_EQ(table.names_read, 1);
  const int listings = table.listings;
  EXPECT_EQ(finder.find(table, now += 1000).start_us, 77);
  EXPECT_EQ(table.listings, listings) << "a running LV1 needs no listing";

  // LV1 restarts under the same pid: a new start time.
  table.procs[4000].start_us = 99;
  EXPECT_EQ(finder.find(table, now += 1000).start_us, 99);
  // LV1 quits and another process takes its pid: not running.
  table.procs[4000] = {"mdworker", 120};
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 2000).pid, 0u);

  // A listed pid reused by LV1 between two listings is found by the full look every 10 s.
  table.procs[1001] = {gm::kLv1ProcessName, 130};
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 10000).pid, 1001u);
}

TEST(Lv1Finder, ListsNothingWhileNoProcessIsCreatedYetMissesNoLv1) {
  FakeTable table;
  table.crowd(500);
  table.mark = 7;
  gm::Lv1Finder finder;
  int64_t now = 0;
  // A first listing may catch a process between its fork and its exec: looked at again 2 s later.
  table.procs[999] = {"launchd", 1};
  EXPECT_EQ(finder.find(table, now).pid, 0u);
  table.procs[999].name = gm::kLv1ProcessName;
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(table.listings, 1) << "no process created, no listing";
  EXPECT_EQ(finder.find(table, now += 1000).pid, 999u);
  table.procs.erase(999);
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 2000).pid, 0u);
  table.listings = 0;
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(table.listings, 0) << "no process created, no listing";

  // LV1 starts: the mark moves and the next tick finds it.
  table.procs[4000] = {gm::kLv1ProcessName, 77};
  table.mark = 8;
  EXPECT_EQ(finder.find(table, now += 1000).pid, 4000u);
  table.procs.erase(4000);
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 2000).pid, 0u);

  // A new process listed between its fork and its exec: seen as LV1 once it is one.
  table.procs[4001] = {"launchd", 90};
  table.mark = 9;
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  table.procs[4001].name = gm::kLv1ProcessName;
  EXPECT_EQ(finder.find(table, now += 500).pid, 4001u);
  table.procs.erase(4001);
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 2000).pid, 0u);

  // One that turns into LV1 later: found by the next full look.
  table.procs[4001] = {"launcher", 95};
  table.mark = 10;
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 3000).pid, 0u);
  table.procs[4001].name = gm::kLv1ProcessName;
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 10000).pid, 4001u);
  table.procs.erase(4001);
  EXPECT_EQ(finder.find(table, now += 1000).pid, 0u);
  EXPECT_EQ(finder.find(table, now += 2000).pid, 0u);

  // With nothing created, all names are read once a minute: an old process turned LV1 is found
  // by then, and the crowd's names are not read every ten seconds.
  table.procs[1002] = {gm::kLv1ProcessName, 2};
  table.names_read = 0;
  EXPECT_EQ(finder.find(table, now += 10000).pid, 0u);
  EXPECT_EQ(table.names_read, 0);
  EXPECT_EQ(finder.find(table, now += 50000).pid, 1002u);
}

class FakeFiles : public gm::OpenFiles {
 public:
  std::vector<int> descriptors(uint32_t) override {
    ++listings;
    std::vector<int> out;
    for (const auto& [fd, path] : fds) out.push_back(fd);
    return out;
  }
  std::string path(uint32_t, int fd) override {
    ++paths_read;
    const auto it = fds.find(fd);
    return it == fds.end() ? "" : it->second;
  }
  std::map<int, std::string> fds;
  int listings = 0, paths_read = 0;
};

TEST(BlockWatch, LooksAtTheRememberedDescriptorsAndAgainOnlyWhenTheyChange) {
  FakeFiles files;
  for (int fd = 0; fd < 300; ++fd) files.fds[fd] = "/lib/plugin" + std::to_string(fd);
  files.fds[200] = "/run/GainmeshLoader";
  files.fds[250] = "/run/GainmeshStatus";
  const gm::BlockWatch::Paths paths = {"/run/GainmeshLoader", "/run/GainmeshStatus",
                                       "/run/GainmeshStatus-x32"};
  gm::BlockWatch watch;
  int64_t now = 0;
  const gm::BlockWatch::Held wing_only = {true, true, false};
  EXPECT_EQ(watch.held(files, 42, paths, now), wing_only);
  files.paths_read = 0;
  EXPECT_EQ(watch.held(files, 42, paths, now += 200), wing_only);
  EXPECT_EQ(files.paths_read, 2) << "the two remembered descriptors only";

  // The WING block re-created: the old descriptor closed, the new file open under another.
  files.fds.erase(250);
  files.fds[301] = "/run/GainmeshStatus";
  EXPECT_EQ(watch.held(files, 42, paths, now += 200), wing_only);
  // The X32 block opened on a descriptor that held another file: seen within a second.
  files.fds[7] = "/run/GainmeshStatus-x32";
  EXPECT_EQ(watch.held(files, 42, paths, now += 200), wing_only);
  EXPECT_EQ(watch.held(files, 42, paths, now += 1000), (gm::BlockWatch::Held{true, true, true}));
  // The loader's block closed; another LV1 process holds nothing yet.
  files.fds.erase(200);
  EXPECT_EQ(watch.held(files, 42, paths, now += 200), (gm::BlockWatch::Held{false, true, true}));
  EXPECT_EQ(watch.held(files, 0, paths, now), gm::BlockWatch::Held{});
}

}  // namespace
