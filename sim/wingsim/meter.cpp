// Meter requests, renewals and frames.
#include "meter.h"

#include <strings.h>

#include <algorithm>
#include <cmath>

#include "log.h"
#include "net.h"
#include "reactor.h"
#include "wingbin_codec.h"

namespace wingsim {
namespace {

struct Source {
  const char* group;
  int inputs;
};
// The desk's meter sources, by index.
constexpr Source kSources[] = {{"LCL", 24}, {"AUX", 8},  {"A", 48},   {"B", 48},
                               {"C", 48},   {"SC", 32},  {"USB", 48}, {"CRD", 64},
                               {"MOD", 64}, {"PLAY", 4}, {"AES", 2},  {"USR", 56}};
constexpr size_t kSourceCount = sizeof kSources / sizeof kSources[0];
constexpr double kSilence = -128.0;
constexpr uint8_t kSourceListTag = 0xA7;
constexpr size_t kMaxRequest = 9 + 1 + 64 + 1;

}  // namespace

Meter::Meter(Sender send) : send_(std::move(send)) {
  for (const Source& s : kSources) levels_.emplace_back(static_cast<size_t>(s.inputs), kSilence);
}

void Meter::feed(uint64_t conn, const sockaddr_in& peer, const uint8_t* p, size_t n) {
  std::vector<uint8_t>& b = pending_[conn];
  b.insert(b.end(), p, p + n);
  while (!b.empty()) {
    const size_t used = parse_one(conn, peer, b);
    if (used == 0) break;
    b.erase(b.begin(), b.begin() + static_cast<long>(used));
  }
}

size_t Meter::parse_one(uint64_t conn, const sockaddr_in& peer, const std::vector<uint8_t>& b) {
  if (b[0] == gm::kWbinInt32) {
    if (b.size() < 5) return 0;
    auto it = subs_.find(Key{conn, gm::wbin_be32(&b[1])});
    if (it != subs_.end()) it->second.renewed = now_ms();
    return 5;
  }
  if (b[0] != gm::kWbinInt16) return 1;
  if (b.size() < 9) return 0;
  if (b[3] != gm::kWbinInt32 || b[8] != gm::kWbinGetValue) return 1;
  const auto end = std::find(b.begin() + 9, b.end(), gm::kWbinEndList);
  if (end == b.end()) return b.size() > kMaxRequest ? 1 : 0;
  Sub s{peer, gm::wbin_be32(&b[4]), {}, now_ms()};
  s.to.sin_port = htons(gm::wbin_be16(&b[1]));
  for (auto it = b.begin() + 9; it != end; ++it) {
    if (*it < kSourceCount)
      s.sources.push_back(*it);
    else if (*it != kSourceListTag || it != b.begin() + 9)
      break;
  }
  if (s.sources.empty()) {
    for (size_t i = 0; i < kSourceCount; ++i) s.sources.push_back(static_cast<uint8_t>(i));
  }
  logf("meter frames to udp %s, report id %u, %zu sources", addr_text(s.to).c_str(), s.id,
       s.sources.size());
  subs_[Key{conn, s.id}] = s;
  return static_cast<size_t>(end - b.begin()) + 1;
}

void Meter::forget(uint64_t conn) {
  pending_.erase(conn);
  for (auto it = subs_.begin(); it != subs_.end();) {
    it = it->first.conn == conn ? subs_.erase(it) : std::next(it);
  }
}

void Meter::forget_all() {
  pending_.clear();
  subs_.clear();
}

bool Meter::set_level(const std::string& source, int first, int last, double db) {
  for (size_t i = 0; i < kSourceCount; ++i) {
    if (strcasecmp(kSources[i].group, source.c_str()) != 0) continue;
    if (first < 1 || last < first || last > kSources[i].inputs || !std::isfinite(db)) return false;
    for (int n = first; n <= last; ++n) levels_[i][static_cast<size_t>(n - 1)] = db;
    return true;
  }
  return false;
}

std::vector<uint8_t> Meter::frame(const Sub& s) const {
  std::vector<uint8_t> f = {static_cast<uint8_t>(s.id >> 24), static_cast<uint8_t>(s.id >> 16),
                            static_cast<uint8_t>(s.id >> 8), static_cast<uint8_t>(s.id)};
  for (uint8_t src : s.sources) {
    for (double db : levels_[src]) {
      const long w = std::clamp(std::lround(db * 256.0), -32768l, 32767l);
      f.push_back(static_cast<uint8_t>(static_cast<uint16_t>(w) >> 8));
      f.push_back(static_cast<uint8_t>(w));
    }
  }
  if (frame_size_ > 0) f.resize(static_cast<size_t>(frame_size_), 0);
  return f;
}

int64_t Meter::tick(int64_t now) {
  for (auto it = subs_.begin(); it != subs_.end();) {
    if (now - it->second.renewed <= kRenewTimeoutMs) {
      ++it;
      continue;
    }
    logf("meter frames to udp %s stop: no renewal for 10 s", addr_text(it->second.to).c_str());
    it = subs_.erase(it);
  }
  if (subs_.empty()) return Reactor::kNever;
  if (now >= next_frame_) {
    for (const auto& [key, s] : subs_) {
      const std::vector<uint8_t> f = frame(s);
      send_(s.to, f.data(), f.size());
    }
    next_frame_ = now + kPeriodMs;
  }
  return next_frame_;
}

}  // namespace wingsim
