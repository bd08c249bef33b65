// The listening desk client: unescapes the desk's stream and time-stamps its value records.
#include "desk_observer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "measure.h"
#include "wingbin.h"
#include "wingbin_codec.h"

namespace gmbench {

bool DeskObserver::start(const std::string& ip, std::string& err) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(gm::kWbinPort);
  if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 || (ntohl(a.sin_addr.s_addr) >> 24) != 127) {
    err = "The observer only connects to loopback addresses, not " + ip + ".";
    return false;
  }
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    err = "The observer could not connect to the virtual desk at " + ip + ":2222.";
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  }
  const int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  seen_.reserve(1 << 16);
  thread_ = std::thread([this] { run(); });
  pthread_getcpuclockid(thread_.native_handle(), &cpu_clock_);
  return true;
}

void DeskObserver::stop() {
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);  // ends the blocking receive
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void DeskObserver::run() {
  gm::WbinUnescaper unescaper;
  std::vector<uint8_t> buf;
  uint8_t in[4096], out[4096];
  while (true) {
    const ssize_t n = recv(fd_, in, sizeof in, 0);
    if (n <= 0) return;
    const int64_t at = now_ns();
    const size_t stored = unescaper.feed(in, static_cast<size_t>(n), out, sizeof out);
    buf.insert(buf.end(), out, out + stored);
    take_records(buf, at);
  }
}

// Pushes are DA-less runs of records: D7, the 32-bit hash, one value token. Anything else (a
// string or an end-of-list) is skipped a byte at a time; an incomplete record waits for more.
void DeskObserver::take_records(std::vector<uint8_t>& buf, int64_t at) {
  size_t pos = 0;
  std::vector<Seen> found;
  while (pos < buf.size()) {
    const uint8_t* p = buf.data() + pos;
    const int avail = static_cast<int>(buf.size() - pos);
    if (p[0] != gm::kWbinHashRec) {
      ++pos;
      continue;
    }
    const int value_len = avail > 5 ? gm::wbin_token_len(p + 5, avail - 5) : -1;
    if (value_len < 0 || 5 + value_len > avail) break;
    double value = 0;
    bool flag = false;
    if (gm::wbin_value_of(p + 5, value_len, &value, &flag)) {
      found.push_back({gm::wbin_be32(p + 1), value, at});
    }
    pos += 5 + static_cast<size_t>(value_len);
  }
  buf.erase(buf.begin(), buf.begin() + static_cast<long>(pos));
  if (found.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    seen_.insert(seen_.end(), found.begin(), found.end());
  }
  cv_.notify_all();
}

int64_t DeskObserver::wait_value(uint32_t hash, double value, int64_t since_ns, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  size_t scanned = 0;
  int64_t at = -1;
  auto arrived = [&] {
    for (; scanned < seen_.size(); ++scanned) {
      const Seen& s = seen_[scanned];
      if (s.at_ns >= since_ns && s.hash == hash && std::fabs(s.value - value) < 0.01) {
        at = s.at_ns;
        return true;
      }
    }
    return false;
  };
  // Records are in arrival order: skip those that came before since_ns.
  scanned =
      static_cast<size_t>(std::partition_point(seen_.begin(), seen_.end(),
                                               [&](const Seen& s) { return s.at_ns < since_ns; }) -
                          seen_.begin());
  cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), arrived);
  return at;
}

long DeskObserver::pushes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<long>(seen_.size());
}

}  // namespace gmbench
