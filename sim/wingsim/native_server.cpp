// The native control port.
#include "native_server.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "log.h"
#include "net.h"
#include "wire.h"

namespace wingsim {
namespace {

constexpr int kPort = 2222;
constexpr uint8_t kMeterChannel = 0xD3;
constexpr size_t kMaxPendingRequest = 4096;
constexpr size_t kMaxQueued = 16u << 20;

}  // namespace

struct NativeServer::Conn {
  uint64_t id;
  int fd;
  sockaddr_in peer;
  std::string peer_text;
  gm::WbinUnescaper unescaper;
  std::vector<uint8_t> control;  // unescaped control-channel bytes not yet parsed
  bool meter_seen = false;       // selected the meter channel
  bool control_seen = false;     // sent a control request
  OutQueue out;

  bool meter_only() const { return meter_seen && !control_seen; }
};

NativeServer::NativeServer(Reactor& reactor, Desk& desk, Meter& meter)
    : reactor_(reactor), desk_(desk), meter_(meter) {
  reactor_.add_ticker([this](int64_t now) { return tick(now); });
}

NativeServer::~NativeServer() {
  for (auto& [id, c] : conns_) {
    reactor_.unwatch(c->fd);
    close(c->fd);
  }
  if (listen_fd_ >= 0) reactor_.unwatch(listen_fd_);
  close_fd(listen_fd_);
}

bool NativeServer::listen(const std::string& ip, std::string& err) {
  const int fd = listen_tcp(ip, kPort, err);
  if (fd < 0) return false;
  if (listen_fd_ >= 0) reactor_.unwatch(listen_fd_);
  close_fd(listen_fd_);
  drop_all();
  listen_fd_ = fd;
  ip_ = ip;
  reactor_.watch(fd, POLLIN, [this](short) { on_accept(); });
  logf("native control on tcp %s:%d", ip.c_str(), kPort);
  return true;
}

void NativeServer::refuse(bool on, std::string& err) {
  if (on && listen_fd_ >= 0) {
    reactor_.unwatch(listen_fd_);
    close_fd(listen_fd_);
  } else if (!on && listen_fd_ < 0) {
    const int fd = listen_tcp(ip_, kPort, err);
    if (fd < 0) return;
    listen_fd_ = fd;
    reactor_.watch(fd, POLLIN, [this](short) { on_accept(); });
  }
}

void NativeServer::drop_all() {
  while (!conns_.empty()) close_conn(conns_.begin()->first, "dropped by the desk");
}

void NativeServer::on_accept() {
  while (listen_fd_ >= 0) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd =
        accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Conn>();
    c->id = next_id_++;
    c->fd = fd;
    c->peer = peer;
    c->peer_text = addr_text(peer);
    const uint64_t id = c->id;
    reactor_.watch(fd, POLLIN, [this, id](short ev) { on_event(id, ev); });
    logf("client %s connected (%zu connections)", c->peer_text.c_str(), conns_.size() + 1);
    conns_[id] = std::move(c);
  }
}

void NativeServer::on_event(uint64_t id, short revents) {
  auto it = conns_.find(id);
  if (it == conns_.end()) return;
  Conn& c = *it->second;
  if ((revents & POLLOUT) && !flush(c, now_ms())) return close_conn(id, "write failed");
  if ((revents & (POLLIN | POLLHUP | POLLERR)) && !read_from(c)) close_conn(id, "closed");
}

bool NativeServer::read_from(Conn& c) {
  uint8_t buf[4096];
  const ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (n == 0) return false;
  route(c, buf, static_cast<size_t>(n));
  return true;
}

void NativeServer::route(Conn& c, const uint8_t* p, size_t n) {
  std::vector<uint8_t> metering;
  for (size_t i = 0; i < n; ++i) {
    uint8_t out[2];
    const size_t k = c.unescaper.feed(p + i, 1, out, sizeof out);
    if (c.unescaper.channel == kMeterChannel) {
      c.meter_seen = true;
      metering.insert(metering.end(), out, out + k);
    } else {
      c.control.insert(c.control.end(), out, out + k);
    }
  }
  if (faults_.silent) {
    c.control.clear();
    return;
  }
  if (!metering.empty()) meter_.feed(c.id, c.peer, metering.data(), metering.size());
  run_requests(c);
}

void NativeServer::run_requests(Conn& c) {
  std::vector<uint8_t>& b = c.control;
  size_t pos = 0;
  while (true) {
    while (pos < b.size()) {
      if (b[pos] != gm::kWbinRoot) {
        ++pos;
        continue;
      }
      gm::WbinRequest r;
      const int used = gm::wbin_parse_request(b.data() + pos, static_cast<int>(b.size() - pos), &r);
      if (used == 0) break;
      if (used < 0) {
        ++pos;
        continue;
      }
      c.control_seen = true;
      handle(c, r);
      pos += static_cast<size_t>(used);
    }
    if (b.size() - pos <= kMaxPendingRequest) break;
    ++pos;  // an incomplete request that cannot be one: look past its first byte
  }
  b.erase(b.begin(), b.begin() + static_cast<long>(pos));
}

void NativeServer::handle(Conn& c, const gm::WbinRequest& r) {
  const NodeTree& tree = desk_.tree();
  const int node = resolve(tree, r);
  if (r.kind == gm::WbinRequest::kSet) return handle_set(c, r, node);
  if (node == NodeTree::kNone) return;
  std::vector<uint8_t> msg;
  append_channel(msg);
  if (r.kind == gm::WbinRequest::kGetDef) {
    append_definition(msg, tree, node);
  } else if (tree.at(node).is_leaf()) {
    append_record(msg, tree.at(node));
  } else {
    append_list(msg, tree, node, faults_.list_without);
  }
  send(c, std::move(msg));
}

void NativeServer::handle_set(Conn& c, const gm::WbinRequest& r, int node) {
  Value v;
  std::string text;
  decode_value(r.value, r.value_len, v, text);
  const std::string path = request_path(r);
  sets_.push_back(path + " " + text);
  if (node == NodeTree::kNone || !desk_.tree().at(node).is_leaf()) {
    logf("set %s %s from %s: no such leaf", path.c_str(), text.c_str(), c.peer_text.c_str());
    return;
  }
  if (desk_.network_locked()) {
    logf("set %s %s from %s: refused, the desk is locked against network changes", path.c_str(),
         text.c_str(), c.peer_text.c_str());
    return;
  }
  const std::vector<int> changed = desk_.apply(node, v);
  logf("set %s %s from %s%s", path.c_str(), text.c_str(), c.peer_text.c_str(),
       changed.empty() ? ": value does not suit the leaf" : "");
  push(changed);
}

void NativeServer::push(const std::vector<int>& leaves) {
  if (faults_.silent || leaves.empty()) return;
  std::vector<uint8_t> msg;
  append_channel(msg);
  for (int leaf : leaves) append_record(msg, desk_.tree().at(leaf));
  for (auto& [id, c] : conns_) {
    if (!c->meter_only()) send(*c, msg);
  }
}

void NativeServer::send_garbage(size_t n) {
  for (auto& [id, c] : conns_) {
    if (c->meter_only()) continue;
    std::vector<uint8_t> noise;
    while (noise.size() < n) {
      noise_ ^= noise_ << 13;
      noise_ ^= noise_ >> 17;
      noise_ ^= noise_ << 5;
      const uint8_t b = static_cast<uint8_t>(noise_ >> 11);
      if (b != gm::kWbinEscape) noise.push_back(b);
    }
    send(*c, std::move(noise));
  }
}

void NativeServer::send(Conn& c, std::vector<uint8_t> bytes) {
  if (c.out.bytes() > kMaxQueued) return;  // a client that stopped reading loses the rest
  c.out.push(std::move(bytes), now_ms() + faults_.delay_ms, faults_.split);
}

int NativeServer::control_clients() const {
  int n = 0;
  for (const auto& [id, c] : conns_) n += c->meter_only() ? 0 : 1;
  return n;
}

bool NativeServer::flush(Conn& c, int64_t now) {
  const bool ok = c.out.flush(c.fd, now);
  reactor_.set_events(c.fd, c.out.blocked() ? POLLIN | POLLOUT : POLLIN);
  return ok;
}

int64_t NativeServer::tick(int64_t now) {
  std::vector<uint64_t> failed;
  int64_t next = Reactor::kNever;
  for (auto& [id, c] : conns_) {
    if (!flush(*c, now))
      failed.push_back(id);
    else
      next = std::min(next, c->out.next_due());
  }
  for (uint64_t id : failed) close_conn(id, "write failed");
  return next;
}

void NativeServer::close_conn(uint64_t id, const char* why) {
  auto it = conns_.find(id);
  if (it == conns_.end()) return;
  Conn& c = *it->second;
  meter_.forget(id);
  reactor_.unwatch(c.fd);
  close(c.fd);
  logf("client %s disconnected (%s)", c.peer_text.c_str(), why);
  conns_.erase(it);
}

}  // namespace wingsim
