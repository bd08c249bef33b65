// The metering client: decoding of meter datagrams (sizes, report id, levels, held peaks, clips,
// which inputs exist), the request bytes, and the real thread against a desk played on a
// loopback address of its own.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gm_win32.h"
#include "host_services.h"
#include "module/module_test_util.h"
#include "support/eventually.h"
#include "support/fake_desk.h"
#include "support/loopback.h"
#include "wing_native.h"
#include "wingbin_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;
using gmtest::eventually;

constexpr uint8_t kId = 77;
const std::vector<std::pair<std::string, int>> kTable = {
    {"LCL", 24}, {"AUX", 8},  {"A", 48},   {"B", 48},   {"C", 48},  {"SC", 32},
    {"USB", 48}, {"CRD", 64}, {"MOD", 64}, {"PLAY", 4}, {"AES", 2}, {"USR", 56}};
const char kSizeLine[] =
    "[nat] meter frame is 894 bytes, expected 896 - channel counts have changed (sample rate or "
    "card?). Not decoding rather than showing wrong levels.";

uint32_t now32() {
  return static_cast<uint32_t>(gm_now_ms());
}

// Word w of a frame's payload (after its 4-byte header), big-endian.
void set_raw(Bytes& f, size_t w, uint16_t raw) {
  f[4 + 2 * w] = static_cast<uint8_t>(raw >> 8);
  f[5 + 2 * w] = static_cast<uint8_t>(raw);
}

size_t word_of(const std::string& group, int input) {
  size_t offset = 0;
  for (size_t s = 0; kTable[s].first != group; ++s) offset += kTable[s].second;
  return offset + input - 1;
}

void set_db(Bytes& f, const std::string& group, int input, double db) {
  set_raw(f, word_of(group, input), static_cast<uint16_t>(std::lround(db * 256)));
}

// A full frame of the given report id with every word at fill_db.
Bytes frame(uint8_t id, double fill_db = -40.0) {
  Bytes f(gm::kWnatFrameBytes);
  f[3] = id;
  for (size_t w = 0; w < (f.size() - 4) / 2; ++w) {
    set_raw(f, w, static_cast<uint16_t>(std::lround(fill_db * 256)));
  }
  return f;
}

// A frame of report kId with every word at -40 dB but these inputs.
struct Level {
  const char* group;
  int input;
  double db;
};
Bytes frame_with(std::initializer_list<Level> levels) {
  Bytes f = frame(kId);
  for (const Level& l : levels) set_db(f, l.group, l.input, l.db);
  return f;
}

bool decode(const Bytes& f, uint32_t at) {
  return gm::wnat_decode_datagram(f.data(), static_cast<int>(f.size()), at);
}

double level(const char* group, int input, bool peak = false) {
  double db = 999;
  EXPECT_TRUE(peak ? gm::wnat_input_peak(group, input, &db)
                   : gm::wnat_input_level(group, input, &db))
      << group << " " << input;
  return db;
}
double peak(const char* group, int input) {
  return level(group, input, true);
}

// Whether the input has a level; its peak must agree.
bool has_value(const char* group, int input) {
  double db = 0;
  const bool lv = gm::wnat_input_level(group, input, &db);
  EXPECT_EQ(gm::wnat_input_peak(group, input, &db), lv) << group << " " << input;
  return lv;
}

class MeterDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.install();
    gm::wnat_reset_for(kId);
  }
  void TearDown() override {
    gm::wnat_stop();
    gm::host_install(nullptr);
  }
  gmtest::FakeHost host_;
};

TEST_F(MeterDecode, SourcesFillTheirInputsInTableOrder) {
  Bytes f = frame(kId);
  for (size_t s = 0; s < kTable.size(); ++s) {
    set_db(f, kTable[s].first, 1, -(s * 5.0 + 1));
    set_db(f, kTable[s].first, kTable[s].second, -(s * 5.0 + 2.5));
  }
  const uint64_t before = gm::wnat_frames();
  ASSERT_TRUE(decode(f, now32()));
  ASSERT_TRUE(decode(f, now32()));
  EXPECT_EQ(gm::wnat_frames(), before + 2);
  for (size_t s = 0; s < kTable.size(); ++s) {
    const char* group = kTable[s].first.c_str();
    EXPECT_EQ(gm::wnat_group_inputs(group), kTable[s].second);
    EXPECT_EQ(level(group, 1), -(s * 5.0 + 1)) << group;
    EXPECT_EQ(level(group, kTable[s].second), -(s * 5.0 + 2.5)) << group;
  }
  EXPECT_EQ(level("USR", 2), -40.0);
  EXPECT_EQ(host_.count_lines("[nat] meter data flowing: 896 bytes, 446 words, LCL 1 = -1.0 dB"), 1)
      << "logged when metering turns on, not for every frame";
}

TEST_F(MeterDecode, FramesOfAnotherSizeOrReportAreNotDecoded) {
  Bytes other = frame(kId + 1, -5.0);
  EXPECT_FALSE(decode(other, now32()));
  EXPECT_FALSE(gm::wnat_metering());
  ASSERT_TRUE(decode(frame(kId, -12.0), now32()));
  const uint64_t frames = gm::wnat_frames();
  EXPECT_FALSE(decode(other, now32()));
  EXPECT_EQ(host_.count_lines("[nat] meter frame is"), 0);

  // A wrong size is complained about three times, and no level is shown meanwhile.
  Bytes short_frame = frame(kId, -3.0);
  short_frame.resize(894);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(decode(short_frame, now32()));
  EXPECT_FALSE(gm::wnat_metering());
  EXPECT_FALSE(has_value("LCL", 1));
  EXPECT_EQ(gm::wnat_frames(), frames);
  EXPECT_EQ(host_.count_lines(kSizeLine), 3);

  ASSERT_TRUE(decode(frame(kId, -12.0), now32()));
  EXPECT_EQ(level("LCL", 1), -12.0) << "the rejected frames changed nothing";
  EXPECT_FALSE(decode(Bytes{0, 0, kId}, now32()));
  EXPECT_TRUE(gm::wnat_metering()) << "a scrap leaves metering on";
  EXPECT_EQ(host_.count_lines("[nat] meter frame is"), 3);
}

TEST_F(MeterDecode, ClipMarksFromHalfADecibelBelowFullScaleAndIsHeld) {
  const uint32_t now = now32();
  ASSERT_TRUE(decode(frame_with({{"AUX", 1, 0.0}}), now - 3000));
  ASSERT_TRUE(decode(frame_with({{"AUX", 2, 0.0}}), now - 2000));

  Bytes f = frame(kId);
  set_raw(f, word_of("LCL", 1), 0x0000);
  set_raw(f, word_of("LCL", 2), 0xFF80);
  set_raw(f, word_of("LCL", 3), 0xFF7F);
  ASSERT_TRUE(decode(f, now));
  EXPECT_EQ(level("LCL", 1), 0.0);
  EXPECT_EQ(level("LCL", 2), -0.5);
  EXPECT_EQ(level("LCL", 3), -129 / 256.0);
  // A clip 3 s ago has expired; one 2 s ago is still shown.
  const std::tuple<const char*, int, bool> clips[] = {
      {"LCL", 1, true}, {"LCL", 2, true}, {"LCL", 3, false}, {"AUX", 1, false}, {"AUX", 2, true}};
  for (const auto& [group, input, clipped] : clips) {
    EXPECT_EQ(gm::wnat_input_clipped(group, input), clipped) << group << " " << input;
  }
}

TEST_F(MeterDecode, HeldPeakFallsAfterItsHoldTime) {
  const uint32_t base = now32();
  const uint32_t taken = base - 2600;
  ASSERT_TRUE(decode(frame_with({{"LCL", 1, -10.0}, {"LCL", 2, -10.0}}), taken));
  for (uint32_t later : {1700u, 2000u, 2300u}) {
    ASSERT_TRUE(decode(frame(kId, -60.0), taken + later));
  }
  ASSERT_TRUE(decode(frame_with({{"LCL", 3, -10.0}}), base - 1000));
  ASSERT_TRUE(decode(frame_with({{"LCL", 2, -20.0}}), base));

  const double lcl1 = peak("LCL", 1);
  const uint32_t after = now32();
  // -10 dB taken 2600 ms ago has fallen 0.02 dB for each of the 1000 ms beyond the hold.
  EXPECT_LE(lcl1, -30.0 + 1e-9);
  EXPECT_GE(lcl1, -30.0 - 0.02 * (after - base) - 1e-9);
  EXPECT_EQ(level("LCL", 1), -40.0);
  EXPECT_EQ(peak("LCL", 2), -20.0) << "the current level is above the fallen peak";
  EXPECT_EQ(peak("LCL", 3), -10.0) << "a peak inside its hold time stays";
}

TEST_F(MeterDecode, OnlyInputsTheFrameCarriesHaveValues) {
  EXPECT_FALSE(has_value("LCL", 1)) << "nothing before the first frame";
  ASSERT_TRUE(decode(frame(kId, 0.0), now32()));
  const struct {
    const char* group;
    int input;
    bool carried;
  } cases[] = {
      {"CRD", 64, true}, {"CRD", 65, false}, {"LCL", 0, false}, {"lcl", 1, true}, {"CH", 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.group ? c.group : "null") + " " + std::to_string(c.input));
    EXPECT_EQ(has_value(c.group, c.input), c.carried);
    EXPECT_EQ(gm::wnat_input_clipped(c.group, c.input), c.carried);
  }
  EXPECT_EQ(gm::wnat_group_inputs("CH"), 0);
}

// The meter channel's select, then the request with every DF escaped.
Bytes escaped(const Bytes& plain) {
  return gmtest::cat<Bytes>({{0xDF, 0xD3}, gmtest::FakeDesk::escape(plain)});
}

Bytes request(uint16_t port, uint8_t id) {
  Bytes r = {0xD3, 0, 0, 0xD4, 0, 0, 0, id, 0xDC, 0xA7, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xDE};
  r[1] = static_cast<uint8_t>(port >> 8);
  r[2] = static_cast<uint8_t>(port);
  return r;
}

TEST(MeterRequest, EscapesDfInThePort) {
  uint8_t out[gm::kWnatRequestMaxBytes];
  const int n = gm::wnat_meter_request(0xDFDF, 0x40, out, sizeof out);
  const Bytes head = {0xDF, 0xD3, 0xD3, 0xDF, 0xDE, 0xDF, 0xDE, 0xD4, 0, 0, 0, 0x40};
  ASSERT_EQ(n, 27);
  EXPECT_EQ(Bytes(out, out + head.size()), head);
  EXPECT_EQ(Bytes(out, out + n), escaped(request(0xDFDF, 0x40)));
  EXPECT_EQ(gm::wnat_meter_request(0xDFDF, 0x40, out, sizeof out - 1), 0);
}

// ---- the thread against a desk on loopback ---------------------------------------------------

bool readable_within(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1;
}

// What arrives in one read, at most max bytes (each message is sent whole); empty when nothing
// came in time.
Bytes receive(int fd, int timeout_ms, size_t max = 256) {
  uint8_t buf[256];
  const ssize_t n =
      readable_within(fd, timeout_ms) ? recv(fd, buf, std::min(max, sizeof buf), 0) : 0;
  return Bytes(buf, buf + (n > 0 ? n : 0));
}

// The meter request as the desk reads it off the wire: its port and report id.
struct SeenRequest {
  Bytes raw, plain;
  explicit SeenRequest(Bytes wire) : raw(std::move(wire)), plain(raw.size()) {
    gm::WbinUnescaper u;
    plain.resize(u.feed(raw.data(), raw.size(), plain.data(), plain.size()));
  }
  uint16_t port() const { return static_cast<uint16_t>(plain[1] << 8 | plain[2]); }
  uint8_t id() const { return plain[7]; }
};

class MeterLink : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.install();
    ip_ = gmtest::unique_loopback();
    listener_ = gmtest::bound_socket(ip_, 2222, SOCK_STREAM);
    ASSERT_EQ(listen(listener_, 4), 0) << ip_;
    udp_ = gmtest::bound_socket(ip_, 2222);
    ASSERT_GE(udp_, 0) << ip_;
    left_running_ = gm::threads_left_running();
  }
  void TearDown() override {
    gm::wnat_stop();
    EXPECT_FALSE(gm::wnat_metering());
    EXPECT_EQ(gm::threads_left_running(), left_running_);
    for (int fd : {client_, listener_, udp_}) {
      if (fd >= 0) close(fd);
    }
    gm::host_install(nullptr);
  }

  // Takes the module's connection and reads the meter request it sends.
  SeenRequest accept_request(int timeout_ms) {
    client_ = readable_within(listener_, timeout_ms) ? accept(listener_, nullptr, nullptr) : -1;
    EXPECT_GE(client_, 0) << "no connection to the desk's native port";
    SeenRequest req(client_ < 0 ? Bytes{} : receive(client_, 5000));
    EXPECT_EQ(req.plain.size(), 23u);
    return req;
  }

  // Waits for the "WING?" prime; returns where it came from (port 0 when none arrived).
  sockaddr_in receive_prime(int timeout_ms) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    char buf[64];
    if (!readable_within(udp_, timeout_ms)) return from;
    const ssize_t n = recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "WING?");
    return from;
  }

  void send_to_meter(const Bytes& b) {
    const auto* to = reinterpret_cast<const sockaddr*>(&meter_);
    ASSERT_EQ(sendto(udp_, b.data(), b.size(), 0, to, sizeof meter_),
              static_cast<ssize_t>(b.size()));
  }

  gmtest::FakeHost host_;
  std::string ip_;
  sockaddr_in meter_{};
  int listener_ = -1, udp_ = -1, client_ = -1;
  uint32_t left_running_ = 0;
};

// How levels are decoded is MeterDecode's; a frame here only shows that the thread feeds them.
TEST_F(MeterLink, RequestsRenewsPrimesASilentDeskAgainAndReconnectsWithTheSameRequest) {
  EXPECT_FALSE(gm::wnat_start(""));
  ASSERT_TRUE(gm::wnat_start(ip_.c_str()));
  const SeenRequest req = accept_request(5000);
  ASSERT_EQ(req.plain.size(), 23u);
  meter_ = receive_prime(5000);
  ASSERT_NE(meter_.sin_port, 0) << "no WING? prime";
  EXPECT_TRUE(gm::wnat_start(ip_.c_str())) << "already running";
  EXPECT_EQ(req.raw, escaped(request(req.port(), req.id())));
  EXPECT_TRUE(req.id() >= 32 && req.id() <= 159) << int(req.id());
  EXPECT_EQ(ntohs(meter_.sin_port), req.port()) << "the prime comes from the meter socket";
  EXPECT_TRUE(host_.has_line("[nat] meter socket on udp/" + std::to_string(req.port())));
  EXPECT_TRUE(host_.wait_for_line(
      "[nat] connected " + ip_ + ":2222, meters requested (12 source devices)", 2000));
  EXPECT_FALSE(gm::wnat_metering());

  const Bytes f = frame(req.id(), -6.0);
  send_to_meter(f);
  ASSERT_TRUE(eventually([] { return gm::wnat_metering(); }, std::chrono::seconds(5)));
  EXPECT_EQ(level("LCL", 1), -6.0);

  EXPECT_EQ(receive(client_, 6000, 5), (Bytes{0xD4, 0, 0, 0, req.id()})) << "renew";
  EXPECT_EQ(receive_prime(12000).sin_port, meter_.sin_port) << "no WING? after 6 s of silence";
  EXPECT_TRUE(host_.has_line("[nat] no meter data for 6 s, re-priming"));
  EXPECT_FALSE(gm::wnat_metering());
  send_to_meter(f);
  ASSERT_TRUE(eventually([] { return gm::wnat_metering(); }, std::chrono::seconds(5)));

  close(client_);
  EXPECT_EQ(accept_request(15000).raw, req.raw) << "same meter port and report id";
  EXPECT_TRUE(host_.has_line("[nat] renew failed, reconnecting"));
  EXPECT_EQ(host_.count_lines("[nat] meter socket on udp/"), 1);

  gm::wnat_stop();
  char rest[256];  // renews sent meanwhile, then the end of the stream
  ssize_t n;
  while ((n = readable_within(client_, 3000) ? recv(client_, rest, sizeof rest, 0) : -1) > 0) {
  }
  EXPECT_EQ(n, 0) << "the request connection is closed on stop";
}

}  // namespace
