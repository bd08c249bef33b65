// The control link against a scripted desk on a loopback address: connecting, requests and
// their replies, pushes, keep-alive, reconnects and stop; the receive split fed directly; and
// the node-hash table with its preload.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_services.h"
#include "module/module_test_util.h"
#include "support/eventually.h"
#include "support/fake_desk.h"
#include "support/loopback.h"
#include "support/wingsim_process.h"
#include "wingbin.h"

namespace {

using gmtest::Bytes;
using gmtest::eventually;
using gmtest::FakeDesk;
using gmtest::ms_since;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr auto cat = &gmtest::cat<Bytes>;
constexpr auto rec = &FakeDesk::value_record;
constexpr auto flt = &FakeDesk::float_token;

long ms_between(Clock::time_point a, Clock::time_point b) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(b - a).count());
}

gm::WbinBuf get_msg(const char* group, int index, const char* leaf) {
  gm::WbinBuf m;
  m.head();
  for (const char* name : {"io", "in", group}) m.name(name);
  m.index(index);
  m.name(leaf);
  m.raw(gm::kWbinGetValue);
  return m;
}

// What the push callbacks saw: known nodes in gmtest::pushes(), unknown ones here by hash.
struct Unknown {
  uint32_t hash;
  double value;
  uint8_t token;
};
std::mutex g_unknown_mu;
std::vector<Unknown> g_unknown;

std::vector<Unknown> unknowns() {
  std::lock_guard<std::mutex> lock(g_unknown_mu);
  return g_unknown;
}

class WbinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.install();
    gm::set_detail_level(2);
    gmtest::pushes().clear();
    g_unknown.clear();
    gm::wbin_on_push(gmtest::PushLog::record);
    gm::wbin_on_unknown([](uint32_t hash, double value, bool, uint8_t token) {
      std::lock_guard<std::mutex> lock(g_unknown_mu);
      g_unknown.push_back({hash, value, token});
    });
  }
  void TearDown() override {
    gm::wbin_stop();
    gm::wbin_on_push(nullptr);
    gm::wbin_on_unknown(nullptr);
    gm::host_install(nullptr);
  }

  bool ask(const gm::WbinBuf& m, uint32_t expected, Bytes* reply, bool raw = false,
           bool collect = false, int timeout_ms = 400) {
    uint8_t out[gm::kWbinReplyBytes];
    int len = -1;
    const bool ok = gm::wbin_transact(m, raw, expected, out, sizeof out, &len, timeout_ms, collect);
    if (reply) reply->assign(out, out + (len > 0 ? len : 0));
    return ok;
  }

  gmtest::FakeHost host_;
};

// With a desk of its own, answering through the handler a test sets.
class WbinLinkTest : public WbinTest {
 protected:
  void TearDown() override {
    desk_.set_handler({});
    WbinTest::TearDown();
  }
  // Starts the link to the desk and waits until it is connected.
  void connect(const FakeDesk& desk, gm::WbinProbe probe = nullptr) {
    ASSERT_TRUE(gm::wbin_start(desk.ip().c_str(), probe));
    ASSERT_TRUE(eventually([] { return gm::wbin_connected(); }));
    ASSERT_TRUE(desk.wait_for_connections(1, 1000));
  }

  FakeDesk desk_{gmtest::unique_loopback()};
};

TEST_F(WbinLinkTest, RefusedControlIsRetriedEveryThreeSecondsWithADiscoveryProbe) {
  const std::string ip = gmtest::unique_loopback();  // nothing listens on TCP here
  const int udp = gmtest::bound_socket(ip, 2222);
  ASSERT_GE(udp, 0);
  timeval tv{5, 0};
  setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  ASSERT_TRUE(gm::wbin_start(ip.c_str(), nullptr));
  char buf[64];
  ASSERT_EQ(recv(udp, buf, sizeof buf, 0), 5);
  EXPECT_EQ(std::string(buf, 5), "WING?");
  const auto first = Clock::now();
  ASSERT_EQ(recv(udp, buf, sizeof buf, 0), 5);
  EXPECT_GE(ms_since(first), 2500);
  close(udp);

  EXPECT_TRUE(host_.has_line(
      "[ctl] cannot connect to " + ip + ":2222 (attempt 1, socket error " +
      std::to_string(ECONNREFUSED) +
      ") - the desk answers discovery but refuses control: WING Edit / the WING app may hold its "
      "connections, or a firewall blocks TCP 2222"));
  EXPECT_EQ(host_.count_lines("[ctl] cannot connect"), 1);
  EXPECT_GE(gm::wbin_connect_failures(), 2);
}

TEST_F(WbinLinkTest, KeepsTheFirstAddressUntilAStopThatEndsAWaitingRequestPromptly) {
  connect(desk_);  // (its log line and failure count: ClientVsWingSim.TheLinkIsKeptAlive...)
  FakeDesk next(gmtest::unique_loopback());
  EXPECT_TRUE(gm::wbin_start(next.ip().c_str(), nullptr));
  std::this_thread::sleep_for(milliseconds(300));

  auto answered = std::async(std::launch::async, [&] {
    return ask(get_msg("LCL", 1, "g"), 0, nullptr, false, false, 8000);
  });
  ASSERT_TRUE(desk_.wait_for_requests(1, 2000));

  const uint32_t left_before = gm::threads_left_running();
  const auto t = Clock::now();
  gm::wbin_stop();
  EXPECT_LT(ms_since(t), 1900);
  EXPECT_FALSE(answered.get());
  EXPECT_LT(ms_since(t), 4000);
  EXPECT_EQ(gm::threads_left_running(), left_before);
  EXPECT_FALSE(gm::wbin_connected());
  EXPECT_FALSE(ask(get_msg("LCL", 1, "g"), 0, nullptr));
  EXPECT_EQ(next.connections(), 0) << "the second start kept the first address";
  EXPECT_EQ(desk_.connections(), 1);

  connect(next);
}

std::mutex g_probe_mu;
std::vector<Clock::time_point> g_probes;

// Answers the first keep-alive probe and fails every later one.
bool probe_once() {
  std::lock_guard<std::mutex> lock(g_probe_mu);
  g_probes.push_back(Clock::now());
  return g_probes.size() == 1;
}

TEST_F(WbinLinkTest, AnIdleLinkIsProbedEveryFourSecondsAndDroppedWhenAProbeFails) {
  connect(desk_, probe_once);
  const auto connected_at = Clock::now();
  ASSERT_TRUE(host_.wait_for_line("[ctl] keep-alive failed, dropping", 14000));
  {
    std::lock_guard<std::mutex> lock(g_probe_mu);
    ASSERT_GE(g_probes.size(), 2u);
    EXPECT_GE(ms_between(connected_at, g_probes[0]), 3500);
    EXPECT_GE(ms_between(g_probes[0], g_probes[1]), 3500);
  }
  // (That the link is rebuilt: ClientVsWingSim.TheLinkIsKeptAlive...)
}

TEST_F(WbinLinkTest, AReplySplitRightAfterAnEscapeByteDecodes) {
  desk_.set_handler([this](const gmtest::DeskRequest&) {
    desk_.send_all({0xD7, 0x11, 0xDF}, false);
    std::this_thread::sleep_for(milliseconds(80));
    desk_.send_all({0xDE, 0x22, 0x33, 0xD5, 0xC0, 0x40, 0x00, 0x00}, false);
    return Bytes{};
  });
  connect(desk_);
  Bytes reply;
  ASSERT_TRUE(ask(get_msg("LCL", 1, "g"), 0x11DF2233u, &reply));
  EXPECT_EQ(reply, (Bytes{0xD7, 0x11, 0xDF, 0x22, 0x33, 0xD5, 0xC0, 0x40, 0x00, 0x00}));
}

TEST_F(WbinLinkTest, ALateReplyFailsAndHoldsBackTheNextRequestWithoutAHash) {
  const uint32_t late = 0x51000001u, next = 0x51000002u;
  std::atomic<int> seen{0};
  std::atomic<long long> second_at{0};
  desk_.set_handler([&](const gmtest::DeskRequest&) -> Bytes {
    if (seen.fetch_add(1) == 0) return {};  // answered late, below
    second_at = Clock::now().time_since_epoch().count();
    return rec(next, flt(2.0f));
  });
  connect(desk_);
  std::thread late_sender([&] {
    if (!desk_.wait_for_requests(1, 3000)) return;
    std::this_thread::sleep_for(milliseconds(500));
    desk_.send_all(rec(late, flt(1.0f)));
  });
  EXPECT_FALSE(ask(get_msg("A", 1, "g"), 0, nullptr));
  const auto failed_at = Clock::now();
  Bytes reply;
  const bool second_ok = ask(get_msg("A", 2, "g"), 0, &reply);
  late_sender.join();

  ASSERT_TRUE(second_ok);
  EXPECT_EQ(reply, rec(next, flt(2.0f)));
  EXPECT_GE(ms_between(failed_at, Clock::time_point(Clock::duration(second_at.load()))), 350);
  ASSERT_TRUE(eventually([] { return !unknowns().empty(); }));
  EXPECT_EQ(unknowns()[0].hash, late);
  EXPECT_DOUBLE_EQ(unknowns()[0].value, 1.0);
}

TEST_F(WbinLinkTest, ALearnedRecordBeforeTheReplyIsDeliveredAsAPush) {
  gm::wbin_hash_learn(0x52000001u, "LCL", 2, "g");
  gm::wbin_hash_learn(0x53000001u, "B", 7, "vph");
  desk_.set_handler([](const gmtest::DeskRequest& r) {
    if (r.path == "/io/in/LCL/1/g") {
      return cat({rec(0x52000001u, flt(5.0f)), rec(0x52000002u, flt(-3.0f))});
    }
    return cat({rec(0x53000001u, {0x01}), rec(0x53000002u, {0x00})});
  });
  connect(desk_);
  const long before = gm::wbin_pushes();
  Bytes reply;
  ASSERT_TRUE(ask(get_msg("LCL", 1, "g"), 0x52000002u, &reply));
  EXPECT_EQ(reply, rec(0x52000002u, flt(-3.0f)));
  // Without an expected hash, a record of a learned node is still no reply.
  ASSERT_TRUE(ask(get_msg("B", 8, "vph"), 0, &reply));
  EXPECT_EQ(reply, rec(0x53000002u, {0x00}));
  EXPECT_EQ(gmtest::pushes().lines(), (std::vector<std::string>{"LCL 2/g=5", "B 7/vph=1"}));
  EXPECT_EQ(gm::wbin_pushes(), before + 2);
}

TEST_F(WbinLinkTest, AListReplyTakesOnlyItsOwnRecords) {
  const Bytes list = cat({rec(0x54000001u, {0x01}), rec(0x54000002u, FakeDesk::string_token("ST")),
                          rec(0x54000003u, flt(12.5f))});
  desk_.set_handler([list](const gmtest::DeskRequest&) {
    return cat({list, {gm::kWbinEndList}, rec(0x54000004u, {0x00})});
  });
  connect(desk_);
  Bytes reply;
  ASSERT_TRUE(ask(get_msg("C", 3, ""), 0, &reply, false, true, 500));
  EXPECT_EQ(reply, list);
  ASSERT_TRUE(eventually([] { return unknowns().size() == 1; }));
  EXPECT_EQ(unknowns()[0].hash, 0x54000004u);
}

// ---- the receive split, fed directly --------------------------------------------------------

int feed(const Bytes& b, const gm::WbinTestRequest* req = nullptr) {
  return gm::wbin_rx_feed_for_tests(b.data(), b.size(), req);
}

TEST_F(WbinTest, AnUnlearnedPushIsReportedAndUnparseableBytesAreDiscarded) {
  EXPECT_EQ(feed(rec(0x0A0B0C0Du, flt(-3.0f))), -1);
  EXPECT_TRUE(host_.has_line(
      "[ctl] push for an unlearned node: hash=0A0B0C0D token=D5 decoded=1 value=-3.000"));

  Bytes junk = {0xDF, 0xDE, 0x3F, 0xFF};  // announces more bytes than the buffer can ever hold
  junk.resize(2048, 0x00);
  for (int i = 0; i < 3; ++i) feed(junk);
  EXPECT_FALSE(host_.has_line("[ctl] rx resync"));
  feed(junk);
  EXPECT_EQ(host_.count_lines("[ctl] rx resync"), 1);
  feed(rec(0x0D000001u, {0x01}));
  EXPECT_EQ(unknowns().size(), 2u);
}

// The desk ends a definition reply with DE; arriving late, that DE must not end the list request
// sent meanwhile.
TEST_F(WbinTest, TheEndOfADefinitionReplyEndsNoListRequest) {
  const gm::WbinTestRequest collect{false, true, 0};
  feed({0xDF, 0xDE, 0x00, 0x01, 0x10});
  EXPECT_EQ(feed({gm::kWbinEndList}, &collect), -1);
  EXPECT_EQ(feed({gm::kWbinEndList}, &collect), 0) << "a list's own end still ends it";
}

TEST_F(WbinTest, AListReplyStopsGrowingAtTheReplySize) {
  Bytes list;
  for (uint32_t i = 0; i < 40; ++i) list = cat({list, rec(0x0E000000u + i, flt(1.0f))});
  list.push_back(gm::kWbinEndList);
  const gm::WbinTestRequest collect{false, true, 0};
  EXPECT_EQ(feed(list, &collect), 320);
  EXPECT_TRUE(unknowns().empty());
  EXPECT_EQ(feed({gm::kWbinEndList}, &collect), 0);
}

// ---- node-hash table ------------------------------------------------------------------------

TEST_F(WbinTest, HashNamesMatchIgnoringCaseAndCutToSevenCharacters) {
  const uint32_t h = 0x61000001u;
  gm::wbin_hash_learn(h, "LongGroupName", 3, "LongLeafName");
  gm::wbin_hash_learn(h, "Other", 9, "g");  // a hash is entered once
  gm::wbin_hash_learn(0, "LCL", 1, "g");    // never 0
  EXPECT_EQ(gm::wbin_known_hash("longgroupxyz", 3, "LONGLEAF"), h);
  EXPECT_EQ(gm::wbin_known_hash("Other", 9, "g"), 0u);
  EXPECT_EQ(gm::wbin_known_hash("LongGroupName", 4, "LongLeafName"), 0u);

  EXPECT_FALSE(gm::wbin_hash_is_elsewhere(h, "LONGGRO", 3));
  EXPECT_TRUE(gm::wbin_hash_is_elsewhere(h, "LongGroupName", 4));
  EXPECT_FALSE(gm::wbin_hash_is_elsewhere(0x61000002u, nullptr, 0));
}

// The preload runs once per load: these two tests need a process each (as under CTest).
bool preload_already_ran() {
  return gm::wbin_known_hash("LCL", 1, "g") != 0 || gm::wbin_hash_count() > 4096 - 1360;
}

TEST_F(WbinTest, FirmwareThreeOnePreloadsItsHashesOnce) {
  if (preload_already_ran()) GTEST_SKIP() << "the preload ran earlier in this process";
  const int before = gm::wbin_hash_count();
  ASSERT_TRUE(gm::wbin_preload("WING,127.0.0.1,Stage Left,wing-rack,S1200,3.1-0-g9f314617:extra"));
  EXPECT_EQ(gm::wbin_hash_count(), before + 1360);
  EXPECT_EQ(gm::wbin_known_hash("lcl", 1, "G"), 0x1CB9CE6Bu);
  EXPECT_EQ(gm::wbin_known_hash("LCL", 1, "vph"), 0x7A0F9D4Eu);
  EXPECT_TRUE(host_.has_line(
      "[bin] firmware 3.1-0-g9f314617: 1360 node hashes preloaded - no read runs on trust"));
  EXPECT_TRUE(gm::wbin_preload("WING,127.0.0.1,x,wing-rack,S1,3.1-0-g9f314617"));
  EXPECT_EQ(host_.count_lines("[bin] firmware"), 1);
  EXPECT_EQ(gm::wbin_hash_count(), before + 1360);
}

TEST_F(WbinTest, OtherFirmwareLearnsAsItReads) {
  if (preload_already_ran()) GTEST_SKIP() << "the preload ran earlier in this process";
  EXPECT_FALSE(gm::wbin_preload("no identity yet"));
  const int before = gm::wbin_hash_count();
  EXPECT_TRUE(gm::wbin_preload("WING,127.0.0.1,x,wing-rack,S1,3.2-0-g0123abcd:rc"));
  EXPECT_TRUE(host_.has_line(
      "[bin] firmware 3.2-0-g0123abcd: no hash table for this build - learning hashes as it "
      "reads"));
  EXPECT_TRUE(gm::wbin_preload("WING,127.0.0.1,x,wing-rack,S1,3.1-0-g9f314617"));
  EXPECT_EQ(gm::wbin_hash_count(), before);
  EXPECT_EQ(host_.count_lines("[bin] firmware"), 1);
}

TEST_F(WbinTest, TheHashTableHolds4096EntriesAndSaysOnceWhenFull) {
  if (gm::wbin_hash_count() >= gm::kWbinMaxHashes) {
    GTEST_SKIP() << "the table was filled earlier in this process";
  }
  for (uint32_t h = 0x70000000u; gm::wbin_hash_count() < gm::kWbinMaxHashes; ++h) {
    gm::wbin_hash_learn(h, "$ch", static_cast<int>(h & 0xFFF), "cin");
  }
  gm::wbin_hash_learn(0x7F000001u, "$ch", 77, "cnm");
  gm::wbin_hash_learn(0x7F000002u, "$ch", 78, "cnm");
  EXPECT_EQ(gm::wbin_hash_count(), gm::kWbinMaxHashes);
  EXPECT_EQ(gm::wbin_known_hash("$ch", 77, "cnm"), 0u);
  EXPECT_FALSE(gm::wbin_hash_is_elsewhere(0x7F000001u, nullptr, 0));
  EXPECT_TRUE(host_.has_line(
      "[bin] node-hash table is FULL (4096) - $ch 77/cnm and every new leaf after it will be read "
      "UNGUARDED. Reads can be mis-attributed; restart LV1 to clear it."));
  EXPECT_EQ(host_.count_lines("node-hash table is FULL"), 1);
}

// The generated preload must be exactly the data file's preload rows.
TEST(WbinHashes, ThePreloadIsTheDataFilesPreloadRows) {
  std::map<std::string, uint32_t> data = gmtest::firmware_hashes();
  ASSERT_FALSE(data.empty());
  ASSERT_EQ(gm::kWingHashes0Count, 1360);
  std::map<std::string, int> per_kind;
  std::map<uint32_t, int> hashes;
  for (int i = 0; i < gm::kWingHashes0Count; ++i) {
    const gm::WingHashRow& r = gm::kWingHashes0[i];
    const std::string group = r.group;
    const std::string path = std::string("/io/") +
                             (group == "MOD" || group == "CRD" ? "out" : "in") + "/" + group + "/" +
                             std::to_string(r.index) + "/" + r.leaf;
    ASSERT_EQ(data.count(path), 1u) << path;
    EXPECT_EQ(data[path], r.hash) << path;
    ++per_kind[group + "/" + r.leaf];
    ++hashes[r.hash];
  }
  EXPECT_EQ(hashes.size(), 1360u);
  EXPECT_EQ(per_kind.size(), 31u);
  for (const auto& [kind, n] :
       std::map<std::string, int>{{"LCL/$ha", 24}, {"C/g", 48}, {"SC/$mute", 32}, {"CRD/in", 64}}) {
    EXPECT_EQ(per_kind[kind], n) << kind;
  }
  EXPECT_EQ(per_kind.count("SC/g"), 0u);
}

}  // namespace
