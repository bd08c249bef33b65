// The virtual WING seen from the network, as the wing module and a user's tools see it: raw
// sockets on the desk's loopback address, requests and replies through the protocol codec.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "net_util.h"
#include "support/loopback.h"
#include "support/wingsim_process.h"
#include "wingbin_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using gmtest::WingSimProcess;

constexpr int kWait = 3000;  // ms for something that must arrive
constexpr int kQuiet = 300;  // ms of silence that shows nothing arrived

// One UDP question and the first answer within the time-out ("" when none came).
std::string ask(const std::string& ip, int port, const std::string& msg, int timeout_ms = kWait) {
  char buf[2048];
  const int n = gm::udp_ask(ip.c_str(), port, msg.data(), msg.size(), buf, sizeof buf, timeout_ms);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// A request: the path's parts as name tokens, numbers as index tokens.
gm::WbinBuf request(const std::string& path) {
  gm::WbinBuf b;
  b.head();
  std::istringstream in(path);
  for (std::string part; std::getline(in, part, '/');) {
    if (part.empty()) continue;
    if (part.find_first_not_of("0123456789") == std::string::npos)
      b.index(std::stoi(part));
    else
      b.name(part.c_str());
  }
  return b;
}

// What the desk sends, after unescaping: value records, list ends, definitions.
struct Item {
  enum Type { kRecord, kEnd, kDef } type;
  uint32_t hash = 0;
  Bytes token;  // record: the value token; definition: the whole record from DF
};

// A native control client that keeps the raw bytes it received next to the decoded items.
class Client {
 public:
  explicit Client(const std::string& ip) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    connected_ = gmtest::connect_to(fd_, ip, 2222);
  }
  ~Client() { close(fd_); }
  bool connected() const { return connected_; }

  void send_raw(const Bytes& b) { ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL); }
  // A value request (DC) or, with kWbinGetDef, a definition request (DD).
  void get(const std::string& path, uint8_t what = gm::kWbinGetValue) {
    gm::WbinBuf b = request(path);
    b.raw(what);
    send_raw(Bytes(b.b, b.b + b.n));
  }

  std::optional<Item> next(int timeout_ms = kWait) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
      if (auto item = parse()) return item;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0 || !receive(static_cast<int>(left.count()))) return std::nullopt;
    }
  }
  // The items of a list reply, its end included.
  std::vector<Item> list() {
    std::vector<Item> items;
    while (auto item = next()) {
      items.push_back(*item);
      if (item->type == Item::kEnd) break;
    }
    return items;
  }
  const Bytes& wire() const { return wire_; }

 private:
  bool receive(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (closed_ || poll(&p, 1, timeout_ms) != 1) return false;
    uint8_t buf[4096], out[8192];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    wire_.insert(wire_.end(), buf, buf + n);
    const size_t k = unescaper_.feed(buf, static_cast<size_t>(n), out, sizeof out);
    data_.insert(data_.end(), out, out + k);
    return true;
  }

  std::optional<Item> parse() {
    while (!data_.empty()) {
      const int avail = static_cast<int>(data_.size());
      std::optional<Item> item;
      int len = 0;
      if (data_[0] == gm::kWbinEndList) {
        item = Item{Item::kEnd, 0, {}};
        len = 1;
      } else if (data_[0] == gm::kWbinHashRec) {
        const int v = avail < 6 ? -1 : gm::wbin_token_len(&data_[5], avail - 5);
        if (v < 0 || 5 + v > avail) return std::nullopt;
        item = Item{Item::kRecord, gm::wbin_be32(&data_[1]), Bytes(&data_[5], &data_[5] + v)};
        len = 5 + v;
      } else if (data_[0] == gm::kWbinEscape) {
        len = gm::wbin_token_len(data_.data(), avail);
        if (len < 0 || len > avail) return std::nullopt;
        item = Item{Item::kDef, 0, Bytes(&data_[0], &data_[0] + len)};
      } else {
        len = 1;  // not the start of anything: skipped
      }
      data_.erase(data_.begin(), data_.begin() + len);
      if (item) return item;
    }
    return std::nullopt;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  gm::WbinUnescaper unescaper_;
  Bytes wire_;
  Bytes data_;
};

// Bytes from hex text; spaces are ignored.
Bytes hex(std::string text) {
  std::erase(text, ' ');
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

uint32_t hash_of(WingSimProcess& sim, const std::string& path) {
  const auto lines = sim.cmd("hash " + path);
  return sim.ok() && lines.size() == 1 ? static_cast<uint32_t>(std::stoul(lines[0], nullptr, 16))
                                       : 0;
}

constexpr uint32_t kLcl1Gain = 0x1CB9CE6Bu;  // /io/in/LCL/1/g in the firmware's node data

class WingSim : public ::testing::Test {
 protected:
  WingSimProcess start() { return WingSimProcess(ip_); }
  const std::string ip_ = gmtest::unique_loopback();
};

TEST_F(WingSim, ReadsAnswerWithRealHashesAndTypedTokens) {
  WingSimProcess sim = start();
  Client c(ip_);
  ASSERT_TRUE(c.connected());
  const std::pair<const char*, Bytes> leaves[] = {{"/io/in/LCL/1/g", {gm::kWbinFloat, 0, 0, 0, 0}},
                                                  {"/io/in/LCL/1/vph", {0x00}},
                                                  {"/io/in/LCL/1/$ha", {0x03}},
                                                  {"/io/in/LCL/1/mode", {0x80, 'M'}},
                                                  {"/io/out/MOD/3/grp", {0x82, 'L', 'C', 'L'}},
                                                  {"/$stat/A/dev", {0x83, 'D', 'L', '3', '2'}},
                                                  {"/io/in/USB/4/name", {gm::kWbinEmptyStr}}};
  for (const auto& [path, token] : leaves) {
    c.get("/nowhere/1");  // unknown paths get no answer
    c.get(path);
    const auto item = c.next();
    ASSERT_TRUE(item) << path;
    EXPECT_EQ(item->hash, hash_of(sim, path)) << path;
    EXPECT_EQ(item->token, token) << path;
  }

  // A sample of the firmware's own hashes; nodes it does not list get hashes of their own.
  const auto real = gmtest::firmware_hashes();
  ASSERT_GT(real.size(), 1000u);
  int row = 0;
  for (const auto& [path, hash] : real) {
    if (row++ % 17 == 0) {
      EXPECT_EQ(hash_of(sim, path), hash) << path;
    }
  }
  std::set<uint32_t> seen;
  for (const auto& [path, hash] : real) seen.insert(hash);
  for (const char* path : {"/io/in/USB/1/name", "/io/in/USB/1/mode", "/ch/1/name", "/io/in/LCL/1",
                           "/$syscfg/tcplock", "/cards/$type", "/io/in/AUX/1/mute"}) {
    const uint32_t h = hash_of(sim, path);
    EXPECT_NE(h, 0u) << path;
    if (real.count(path)) {
      EXPECT_EQ(h, real.at(path)) << path;
    } else {
      EXPECT_TRUE(seen.insert(h).second) << path << " shares a hash";
    }
  }
}

// Parent hash, hash, index, name, long name, flags (type and unit), then the type's tail.
TEST_F(WingSim, DefinitionsFollowTheDesksLayout) {
  WingSimProcess sim = start();
  Client c(ip_);
  const std::pair<std::string, std::string> defs[] = {
      // linear float in dB: -2.5 .. 45 in 20 steps
      {"/io/in/LCL/1/g", "0000 0167 044761696e 0011 c0200000 42340000 00000014"},
      // text enumeration: three items, each with its long text
      {"/io/in/LCL/1/mode",
       "0000 046d6f6465 044d6f6465 0050 0003 014d 014d 025354 025354 034d2f53 034d2f53"},
      // text of at most 120 characters
      {"/io/in/LCL/1/name", "0000 046e616d65 044e616d65 0070 0078"},
      // integer 0 .. 1
      {"/io/in/LCL/1/vph", "0000 03767068 0d5068616e746f6d20706f776572 0040 00000000 00000001"},
      // a node, numbered 1
      {"/io/in/LCL/1", "0001 0131 0131 0000"},
  };
  for (const auto& [path, tail] : defs) {
    c.get(path, gm::kWbinGetDef);
    const auto def = c.next();
    ASSERT_TRUE(def && def->type == Item::kDef) << path;
    Bytes body;
    for (uint32_t h : {hash_of(sim, path.substr(0, path.rfind('/'))), hash_of(sim, path)}) {
      for (int shift = 24; shift >= 0; shift -= 8) body.push_back(uint8_t(h >> shift));
    }
    const Bytes t = hex(tail);
    body.insert(body.end(), t.begin(), t.end());
    body.insert(body.begin(), {0xDF, uint8_t(body.size() >> 8), uint8_t(body.size())});
    EXPECT_EQ(def->token, body) << path;
    const auto end = c.next();
    EXPECT_TRUE(end && end->type == Item::kEnd) << path;
  }
  // The tag is the data byte DF: escaped, after the control-channel select.
  ASSERT_GE(c.wire().size(), 4u);
  EXPECT_EQ(Bytes(c.wire().begin(), c.wire().begin() + 4), (Bytes{0xDF, 0xD1, 0xDF, 0xDE}));
}

TEST_F(WingSim, ListRepliesStartModeGainPhantomAndEndTheList) {
  WingSimProcess sim = start();
  Client c(ip_);
  c.get("/io/in/LCL/1");
  auto items = c.list();
  ASSERT_EQ(items.size(), 10u);
  EXPECT_EQ(std::vector<uint32_t>({items[0].hash, items[1].hash, items[2].hash}),
            std::vector<uint32_t>(
                {hash_of(sim, "/io/in/LCL/1/mode"), kLcl1Gain, hash_of(sim, "/io/in/LCL/1/vph")}));
  EXPECT_EQ(items[1].token[0], gm::kWbinFloat);
  EXPECT_EQ(items.back().type, Item::kEnd);

  c.get("/io/in/SC/3");
  items = c.list();
  ASSERT_EQ(items.size(), 5u);  // mode, mute, name, $mute: no gain, 48V or head amp
  for (const Item& i : items) EXPECT_TRUE(i.type == Item::kEnd || i.token[0] != gm::kWbinFloat);
  EXPECT_EQ(items.back().type, Item::kEnd);
}

TEST_F(WingSim, X32ModeAnswersXinfoAndNothingElse) {
  WingSimProcess::Options o;
  o.ip = ip_;
  o.model = "X32";
  o.firmware = "4.06";
  o.extra = {"--x32"};
  WingSimProcess sim(o);
  // An OSC string: its text and one to four NULs.
  const auto pad = [](std::string s) { return s.append(4 - s.size() % 4, '\0'); };
  EXPECT_EQ(ask(ip_, 10023, pad("/xinfo") + pad(",")),
            pad("/xinfo") + pad(",ssss") + pad(ip_) + pad("FOH") + pad("X32") + pad("4.06"));
  EXPECT_EQ(ask(ip_, 2222, "WING?", kQuiet), "");
  EXPECT_FALSE(Client(ip_).connected());
}

TEST_F(WingSim, SurvivesBadBytesAndTornMessages) {
  WingSimProcess sim = start();
  {
    Client noisy(ip_);
    Bytes junk(8192);
    uint32_t x = 12345;
    for (uint8_t& b : junk) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    noisy.send_raw(junk);
    noisy.send_raw({0xDF, 0xD3, 0xD3, 0x12});                  // a torn meter request
    noisy.send_raw({0xDF, 0xD1, 0xDA, 0xC2, 'i', 'o', 0xD1});  // a torn control request
  }
  Client c(ip_);
  c.get("/io/in/LCL/1/g");
  const auto item = c.next();
  EXPECT_TRUE(item && item->hash == kLcl1Gain);
}

}  // namespace
