// The network helpers of desk discovery: OSC card queries and answers, one-question exchanges,
// the broadcast list, the local-network-blocked detector and the per-interface sockets.
//
// Traffic stays on loopback addresses, except in the NetNamespace tests, which run in a child
// process inside a namespace of the lab with veth interfaces of their own.
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bridge_cfg.h"
#include "module/module_test_util.h"
#include "net_util.h"
#include "support/loopback.h"
#include "support/module_fixture.h"
#include "support/netns.h"

namespace {

using Bytes = std::string;
using gmtest::ip4;

// ---- OSC ----------------------------------------------------------------------------------------

Bytes osc_query(const char* path, size_t size = 64) {
  std::vector<char> buf(size, 'x');
  const size_t n = gm::osc_query_msg(buf.data(), buf.size(), path);
  return Bytes(buf.data(), n);
}

// The first argument as "s <text>", "i <word>" or "f <word>" (the word in hex), or "none".
std::string first_arg(const Bytes& msg, size_t str_size = 64) {
  std::vector<char> text(str_size + 1, '#');
  text.back() = '\0';
  uint32_t word = 0;
  const char type = gm::osc_first_arg(msg.data(), msg.size(), text.data(), str_size, &word);
  char out[96];
  if (type == 's' || type == 0) {
    std::snprintf(out, sizeof out, "%s%s", type ? "s " : "none", text.data());
  } else {
    std::snprintf(out, sizeof out, "%c %08X", type, word);
  }
  return out;
}

TEST(OscQuery, PathIsPaddedToFourWithAtLeastOneNulThenAnEmptyTypeTagIfItFits) {
  EXPECT_EQ(osc_query("/$syscfg/opt_mod"), Bytes("/$syscfg/opt_mod\0\0\0\0,\0\0\0", 24));
  EXPECT_EQ(osc_query("/ab"), Bytes("/ab\0,\0\0\0", 8));
  EXPECT_EQ(osc_query("/$syscfg/opt_mod", 24).size(), 24u);
  EXPECT_EQ(osc_query("/$syscfg/opt_mod", 23).size(), 0u);
}

TEST(OscFirstArg, StringIntegerAndFloatAnswers) {
  const Bytes s = osc_query("/$syscfg/opt_mod").substr(0, 20) + Bytes(",s\0\0WSG-card\0\0\0\0", 16);
  EXPECT_EQ(first_arg(s), "s WSG-card");
  EXPECT_EQ(first_arg(s, 4), "s WSG");
  EXPECT_EQ(first_arg(Bytes("/x\0\0,i\0\0\x01\x02\x03\x84", 12)), "i 01020384");
  // The first argument's type decides, even when later ones follow.
  EXPECT_EQ(first_arg(Bytes("/x\0\0,fs\0\x3f\x80\0\0zz\0\0", 16)), "f 3F800000");
}

TEST(OscFirstArg, MalformedOrTruncatedAnswersGiveNothing) {
  const std::vector<Bytes> bad = {
      Bytes("/abc\0\0\0\0", 8),           // no type tag
      Bytes("/x\0\0,x\0\0\0\0\0\0", 12),  // unknown type
      Bytes("/x\0\0,\0\0\0", 8),          // no argument (a query)
      Bytes("/x\0\0,s\0\0WSG-card", 16),  // string without its NUL
  };
  for (const Bytes& msg : bad) EXPECT_EQ(first_arg(msg), "none") << testing::PrintToString(msg);
}

// ---- one-question exchanges ---------------------------------------------------------------------

// A UDP socket on a fresh loopback address; with echo, a thread sends the first datagram back.
class LoopbackPeer {
 public:
  explicit LoopbackPeer(bool echo)
      : ip_(gmtest::unique_loopback()), fd_(gmtest::bound_socket(ip_)) {
    EXPECT_GE(fd_, 0) << strerror(errno);
    if (echo) thread_ = std::thread([this] { echo_once(); });
  }
  ~LoopbackPeer() {
    shutdown(fd_, SHUT_RDWR);
    received();
    close(fd_);
  }
  const std::string& ip() const { return ip_; }
  int port() const { return ntohs(gmtest::local_address(fd_).sin_port); }
  // What the echo thread received; waits for it to end.
  std::string received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  void echo_once() {
    pollfd p{fd_, POLLIN, 0};
    char buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = poll(&p, 1, 10000) != 1 ? -1
                                              : recvfrom(fd_, buf, sizeof buf, 0,
                                                         reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) return;
    received_.assign(buf, static_cast<size_t>(n));
    sendto(fd_, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
  }

  std::string ip_;
  int fd_;
  std::thread thread_;
  std::string received_;
};

TEST(UdpAsk, ReceivesTheAnswerNulTerminatedAndCutToTheBuffer) {
  LoopbackPeer peer(true);
  const Bytes question = osc_query("/cards/$type");
  char buf[64];
  const int n = gm::udp_ask(peer.ip().c_str(), peer.port(), question.data(), question.size(), buf,
                            sizeof buf, 2000);
  EXPECT_EQ(n, 20);
  EXPECT_EQ(Bytes(buf, 21), question + Bytes(1, '\0'));
  EXPECT_EQ(peer.received(), question);

  LoopbackPeer short_peer(true);
  char small[4];
  EXPECT_EQ(gm::udp_ask(short_peer.ip().c_str(), short_peer.port(), "WING?", 5, small, sizeof small,
                        2000),
            3);
  EXPECT_STREQ(small, "WIN");
}

TEST(UdpAsk, SilenceAndBadAddressesGiveNothing) {
  LoopbackPeer silent(false);
  // A zero time-out must not turn into waiting for ever.
  const struct {
    const char* ip;
    int port, timeout_ms;
  } cases[] = {{silent.ip().c_str(), silent.port(), 0},
               {silent.ip().c_str(), silent.port(), 100},
               {"desk.local", 2223, 100}};
  for (const auto& c : cases) {
    char buf[32] = "stale";
    EXPECT_EQ(gm::udp_ask(c.ip, c.port, "?", 1, buf, sizeof buf, c.timeout_ms), 0)
        << (c.ip ? c.ip : "null") << ":" << c.port;
    EXPECT_STREQ(buf, "");
  }
}

// ---- settings-driven addresses ------------------------------------------------------------------

class NetHintAddresses : public gmtest::InProcessModuleTest {
 protected:
  // The list gather_broadcasts builds. Nothing is sent to these addresses.
  static std::vector<std::string> gathered(int max) {
    char addrs[32][16];
    const int n = gm::gather_broadcasts(addrs, max);
    return std::vector<std::string>(addrs, addrs + std::max(n, 0));
  }
};

using Addrs = std::vector<std::string>;

TEST_F(NetHintAddresses, BroadcastListAndHintsComeFromTheHintAndTheForcedAddress) {
  load_settings("hint=10.1.2.3\nip=10.1.2.4\n");
  EXPECT_EQ(gathered(32).at(2), "10.1.2.4");
  EXPECT_EQ(gathered(2), (Addrs{"255.255.255.255", "10.1.2.3"}));
  EXPECT_TRUE(gathered(0).empty());
  for (const char* a : {"10.1.2.3", "10.1.2.4"}) EXPECT_TRUE(gm::net_is_hint(a)) << a;
  EXPECT_FALSE(gm::net_is_hint("10.1.2.5"));
  // Invalid or repeated settings addresses are left out.
  load_settings("hint=desk.local\nip=10.1.2.4\n");
  EXPECT_EQ(gathered(2), (Addrs{"255.255.255.255", "10.1.2.4"}));
  load_settings("hint=10.1.2.3\nip=10.1.2.3\n");
  EXPECT_EQ(std::ranges::count(gathered(32), "10.1.2.3"), 1);
}

// ---- the local-network-blocked detector ---------------------------------------------------------

// What the detector sees in these tests: a list of interfaces, the result each probe gets, and
// a clock. Probes are recorded, never sent.
struct FakeNet {
  std::mutex mu;
  std::vector<gm::NetIfAddr> ifaces;
  std::map<uint32_t, int> result;  // probe target -> errno (0 succeeds); default EPERM
  std::vector<uint32_t> probes;
  std::atomic<uint64_t> now{100000};
};
FakeNet* g_fake = nullptr;

int fake_list(gm::NetIfAddr* out, int max) {
  std::lock_guard<std::mutex> lock(g_fake->mu);
  const int n = std::min(max, static_cast<int>(g_fake->ifaces.size()));
  std::copy_n(g_fake->ifaces.begin(), n, out);
  return n;
}

int fake_send(uint32_t addr) {
  std::lock_guard<std::mutex> lock(g_fake->mu);
  g_fake->probes.push_back(addr);
  const auto it = g_fake->result.find(addr);
  return it == g_fake->result.end() ? EPERM : it->second;
}

uint64_t fake_now() {
  return g_fake->now.load();
}

constexpr uint32_t kBroadcastUp = IFF_UP | IFF_BROADCAST | IFF_RUNNING;

class NetBlocked : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &net_;
    gm::net_detector_set_io(&io_);
  }
  void TearDown() override {
    gm::net_detector_set_io(nullptr);
    g_fake = nullptr;
  }
  void add(const char* addr, int prefix, uint32_t flags = kBroadcastUp) {
    net_.ifaces.push_back(gm::NetIfAddr{ip4(addr), static_cast<uint8_t>(prefix), flags});
  }
  static void note_failure(int err) {
    errno = err;
    gm::net_note_unicast(-1);
  }
  std::vector<uint32_t> take_probes() {
    std::lock_guard<std::mutex> lock(net_.mu);
    return std::exchange(net_.probes, {});
  }
  FakeNet net_;
  gm::NetDetectorIo io_{fake_list, fake_send, fake_now};
};

TEST_F(NetBlocked, RefusedProbesOnEverySubnetMeanBlocked) {
  add("192.168.1.10", 24);
  add("10.0.0.1", 8);  // the interface is network + 1: probe + 2
  add("172.16.5.5", 0);
  add("172.16.6.6", 32);
  add("172.16.7.7", 24, IFF_UP | IFF_RUNNING);         // not broadcast-capable
  add("172.16.8.8", 24, IFF_BROADCAST | IFF_RUNNING);  // not up
  net_.result[ip4("10.0.0.2")] = EHOSTUNREACH;
  note_failure(EPERM);
  EXPECT_TRUE(gm::net_blocked());
  EXPECT_EQ(take_probes(), (std::vector<uint32_t>{ip4("192.168.1.1"), ip4("10.0.0.2")}));
}

// One probe getting out means not blocked, and so do failures of other kinds alone.
TEST_F(NetBlocked, OnlyRefusalsOnEverySubnetMeanBlocked) {
  const struct {
    int trigger;
    std::vector<int> results;  // what the probe of each subnet gets
    bool blocked;
    size_t probes;
  } cases[] = {{EHOSTUNREACH, {EPERM, 0, EPERM}, false, 2},  // the first success ends the test
               {EPERM, {ENETUNREACH, ENOBUFS}, false, 2},
               {EPERM, {ENETUNREACH, EHOSTUNREACH}, true, 2},
               {EPERM, {}, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.results));
    net_.ifaces.clear();
    for (size_t i = 0; i < c.results.size(); ++i) {
      const std::string net = "192.168." + std::to_string(i + 1);
      add((net + ".10").c_str(), 24);
      net_.result[ip4((net + ".1").c_str())] = c.results[i];
    }
    gm::net_detector_set_io(&io_);
    note_failure(c.trigger);
    EXPECT_EQ(gm::net_blocked(), c.blocked);
    EXPECT_EQ(take_probes().size(), c.probes);
  }
}

TEST_F(NetBlocked, OtherSendErrorsLeaveTheFlagAndSuccessClearsIt) {
  add("192.168.1.10", 24);
  note_failure(ECONNREFUSED);
  EXPECT_FALSE(gm::net_blocked());
  EXPECT_TRUE(take_probes().empty());
  note_failure(EPERM);
  note_failure(ECONNREFUSED);
  EXPECT_TRUE(gm::net_blocked());
  errno = EINTR;
  gm::net_note_unicast(5);
  EXPECT_EQ(errno, EINTR);  // the caller's errno survives
  EXPECT_FALSE(gm::net_blocked());
}

TEST_F(NetBlocked, VerdictIsRetestedAtMostEveryFiveSeconds) {
  add("192.168.1.10", 24);
  note_failure(EPERM);
  EXPECT_TRUE(gm::net_blocked());
  EXPECT_EQ(take_probes().size(), 1u);

  gm::net_note_unicast(1);
  net_.result[ip4("192.168.1.1")] = 0;
  net_.now += 4999;
  note_failure(EPERM);  // too soon: the last verdict stands
  EXPECT_TRUE(gm::net_blocked());
  EXPECT_TRUE(take_probes().empty());

  net_.now += 1;
  note_failure(EPERM);
  EXPECT_FALSE(gm::net_blocked());
  EXPECT_EQ(take_probes().size(), 1u);
}

TEST_F(NetBlocked, ThreadsNotingAtOnceShareOneTest) {
  add("192.168.1.10", 24);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        errno = EPERM;
        gm::net_note_unicast(-1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(take_probes().size(), 1u);
  note_failure(EPERM);
  EXPECT_TRUE(gm::net_blocked());
}

TEST_F(NetBlocked, AProbeThatGoesOutClearsTheFlag) {
  add("192.168.1.10", 24);
  note_failure(EPERM);
  ASSERT_TRUE(gm::net_blocked());
  LoopbackPeer peer(true);
  EXPECT_TRUE(gm::net_probe(peer.ip().c_str(), peer.port(), "WING?", 5));
  EXPECT_FALSE(gm::net_blocked());
}

// ---- inside a network namespace -----------------------------------------------------------------

// gm0: up with two addresses; gm1: up with a /32 address; gm2: down. Each is one end of a veth
// pair whose other end carries no address.
constexpr const char* kInterfaces =
    "ip link set lo up && ip link add gm0 type veth peer name gm0p && "
    "ip addr add 10.77.0.5/24 dev gm0 && ip addr add 10.77.0.9/24 dev gm0 && "
    "ip link set gm0p up && ip link set gm0 up && ip link add gm1 type veth peer name gm1p && "
    "ip addr add 10.79.0.1/32 dev gm1 && ip link set gm1p up && ip link set gm1 up && "
    "ip link add gm2 type veth peer name gm2p && ip addr add 10.80.0.1/24 dev gm2";

std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

// Reports, as "key=value" lines, what the adapters and the blocked detector make of them.
void report(std::ostream& out) {
  gm::cfg_reset();
  char addrs[32][16];
  int n = gm::gather_broadcasts(addrs, 32);
  out << "broadcasts=" << joined(std::vector<std::string>(addrs, addrs + n)) << "\n";
  int fds[16];
  n = gm::net_adapter_sockets(fds, addrs, 16);
  out << "sockets=" << joined(std::vector<std::string>(addrs, addrs + n)) << "\n";
  std::vector<std::string> devices;
  for (int i = 0; i < n; ++i) {
    char name[IFNAMSIZ] = {};
    socklen_t size = sizeof name;
    getsockopt(fds[i], SOL_SOCKET, SO_BINDTODEVICE, name, &size);
    devices.push_back(name);
  }
  out << "devices=" << joined(devices) << "\n";
  // A broadcast from the gm0 socket reaches a listener of this namespace.
  const int listener = gmtest::bound_socket("0.0.0.0");
  sockaddr_in to = gmtest::local_address(listener);
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  const int gm0 = n > 0 && std::string(addrs[0]) == "10.77.0.5" ? fds[0] : -1;
  out << "sent=" << sendto(gm0, "WING?", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) << "\n";
  const int watched[2] = {n > 1 ? fds[1] : -1, listener};
  out << "ready=" << gm::net_wait_any(watched, 2, 3000) << "\n";
  char buf[16] = {};
  out << "got=" << std::string(buf, std::max<ssize_t>(0, recv(listener, buf, 15, 0))) << "\n";

  // The detector's probes for real: the one to 10.77.0.1 goes out until a route refuses it.
  const auto refused_send = [] {
    errno = EHOSTUNREACH;
    gm::net_note_unicast(-1);
    return gm::net_blocked();
  };
  gm::net_detector_set_io(nullptr);
  out << "open=" << refused_send() << "\n";
  if (std::system("ip route add unreachable 10.77.0.1/32 2>/dev/null") != 0) {
    out << "skip=cannot add an unreachable route\n";
    return;
  }
  gm::net_detector_set_io(nullptr);
  out << "refused=" << refused_send() << "\n";
  (void)!std::system("ip route del unreachable 10.77.0.1/32 2>/dev/null");
}

// Runs report inside a namespace of the lab whose bridge is swapped for kInterfaces.
TEST(NetNamespace, AdaptersBroadcastsAndTheDetectorFollowTheInterfaces) {
  gmtest::NetnsLab lab(0);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  const auto fn = [] {
    std::ostringstream out;
    if (std::system(("(ip link del br0 && " + std::string(kInterfaces) + ") 2>/dev/null").c_str()))
      out << "skip=cannot set up the interfaces of the namespace\n";
    else
      report(out);
    return out.str();
  };
  std::string text, err;
  if (!gmtest::run_in_netns(lab.scanner(), fn, &text, &err)) GTEST_SKIP() << err;
  if (text.find("skip=") != std::string::npos) GTEST_SKIP() << text;
  // The down interface and the /32 address give no directed broadcast; the two addresses of gm0
  // each give theirs. One socket per interface, whatever its number of addresses; none for the
  // down one. Every probe refused: blocked (when the verdict is retested: NetBlocked).
  EXPECT_EQ(text,
            "broadcasts=255.255.255.255 10.77.0.255 10.77.0.255\n"
            "sockets=10.77.0.5 10.79.0.1\n"
            "devices=gm0 gm1\n"
            "sent=5\n"
            "ready=1\n"
            "got=WING?\n"
            "open=0\n"
            "refused=1\n");
}

}  // namespace
