// The scripted desk.
#include "support/fake_desk.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "support/loopback.h"

namespace gmtest {
namespace {

std::string path_text(const gm::WbinRequest& r) {
  std::string p;
  for (int i = 0; i < r.depth; ++i) {
    p += "/";
    p += r.path[i].is_index ? std::to_string(r.path[i].index) : std::string(r.path[i].name);
  }
  return p;
}

void send_bytes(int fd, const Bytes& b) {
  size_t off = 0;
  while (off < b.size()) {
    ssize_t n = send(fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

}  // namespace

FakeDesk::FakeDesk(std::string ip) : ip_(std::move(ip)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in a = gmtest::ipv4(ip_, 2222);
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      listen(listen_fd_, 8) != 0) {
    throw std::runtime_error("FakeDesk cannot listen on " + ip_ + ":2222");
  }
  acceptor_ = std::thread([this] { accept_loop(); });
}

FakeDesk::~FakeDesk() {
  running_ = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    shutdown(listen_fd_, SHUT_RDWR);
    close(listen_fd_);
    listen_fd_ = -1;
  }
  drop_clients();
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mu_);
    threads.swap(client_threads_);
  }
  for (auto& t : threads) t.join();
}

void FakeDesk::set_handler(Handler h) {
  std::lock_guard<std::mutex> lock(mu_);
  handler_ = std::move(h);
}

void FakeDesk::send_all(const Bytes& bytes, bool esc) {
  std::lock_guard<std::mutex> lock(mu_);
  const Bytes wire = esc ? escape(bytes) : bytes;
  for (int fd : clients_) send_bytes(fd, wire);
}

void FakeDesk::drop_clients() {
  std::lock_guard<std::mutex> lock(mu_);
  for (int fd : clients_) shutdown(fd, SHUT_RDWR);
}

std::vector<DeskRequest> FakeDesk::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

bool FakeDesk::wait_for_requests(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return requests_.size() >= n; });
}

bool FakeDesk::wait_for_connections(int n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return connections_.load() >= n; });
}

Bytes FakeDesk::escape(const Bytes& in) {
  Bytes out;
  for (uint8_t b : in) {
    out.push_back(b);
    if (b == 0xDF) out.push_back(0xDE);
  }
  return out;
}

Bytes FakeDesk::value_record(uint32_t hash, const Bytes& token) {
  Bytes r;
  r.reserve(5 + token.size());
  r.push_back(0xD7);
  for (int shift = 24; shift >= 0; shift -= 8) r.push_back(uint8_t(hash >> shift));
  for (uint8_t b : token) r.push_back(b);
  return r;
}

Bytes FakeDesk::float_token(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, 4);
  return {0xD5, uint8_t(bits >> 24), uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits)};
}

Bytes FakeDesk::string_token(const std::string& s) {
  if (s.empty()) return {0xD0};
  Bytes r;
  r.push_back(uint8_t(0x7F + s.size()));
  for (char c : s) r.push_back(static_cast<uint8_t>(c));
  return r;
}

void FakeDesk::accept_loop() {
  while (running_) {
    int lfd;
    {
      std::lock_guard<std::mutex> lock(mu_);
      lfd = listen_fd_;
    }
    if (lfd < 0) return;
    pollfd p{lfd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mu_);
    clients_.push_back(fd);
    connections_.fetch_add(1);
    client_threads_.emplace_back([this, fd] { client_loop(fd); });
    cv_.notify_all();
  }
}

void FakeDesk::client_loop(int fd) {
  gm::WbinUnescaper unesc;
  Bytes stream;   // unescaped
  Bytes pending;  // raw bytes since the last complete request
  uint8_t buf[2048];
  while (true) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    uint8_t plain[4096];
    const size_t got = unesc.feed(buf, static_cast<size_t>(n), plain, sizeof plain);
    stream.insert(stream.end(), plain, plain + got);
    pending.insert(pending.end(), buf, buf + n);
    size_t off = 0;
    while (off < stream.size()) {
      gm::WbinRequest req;
      const int used =
          gm::wbin_parse_request(stream.data() + off, static_cast<int>(stream.size() - off), &req);
      if (used == 0) break;
      if (used < 0) {
        ++off;
        continue;
      }
      DeskRequest dr{pending, path_text(req), req.kind, {}};
      if (req.kind == gm::WbinRequest::kSet) dr.value.assign(req.value, req.value + req.value_len);
      pending.clear();
      off += static_cast<size_t>(used);
      Handler h;
      {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.push_back(dr);
        h = handler_;
        cv_.notify_all();
      }
      if (h) {
        const Bytes reply = h(dr);
        if (!reply.empty()) send_bytes(fd, escape(reply));
      }
    }
    stream.erase(stream.begin(), stream.begin() + static_cast<long>(off));
  }
  std::lock_guard<std::mutex> lock(mu_);
  std::erase(clients_, fd);
  close(fd);
}

}  // namespace gmtest
