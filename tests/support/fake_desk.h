// A scripted desk for protocol tests: listens on <ip>:2222, records every request the module
// sends (raw bytes and parsed), and answers through a handler the test supplies. Lighter than
// the rig's wingsim: the test decides every reply byte.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wingbin_codec.h"

namespace gmtest {

using Bytes = std::vector<uint8_t>;

// One request as the desk saw it.
struct DeskRequest {
  Bytes raw;         // as on the wire, escaping included, from DF D1 on
  std::string path;  // "/io/in/LCL/1/g" (indexes as numbers)
  gm::WbinRequest::Kind kind;
  Bytes value;  // the value token of a set (unescaped)
};

class FakeDesk {
 public:
  // Returns the reply bytes (unescaped: the desk escapes every DF it sends) for a request; an
  // empty reply sends nothing.
  using Handler = std::function<Bytes(const DeskRequest&)>;

  explicit FakeDesk(std::string ip);
  ~FakeDesk();

  const std::string& ip() const { return ip_; }
  void set_handler(Handler h);
  // Sends bytes to every connected client, escaped (or as they are with escape = false).
  void send_all(const Bytes& bytes, bool escape = true);
  // Closes every client connection (the listener stays).
  void drop_clients();

  std::vector<DeskRequest> requests() const;
  int connections() const { return connections_.load(); }
  bool wait_for_requests(size_t n, int timeout_ms) const;
  bool wait_for_connections(int n, int timeout_ms) const;

  // Encoders for replies, and the escaping of every DF byte as DF DE.
  static Bytes escape(const Bytes& in);
  static Bytes value_record(uint32_t hash, const Bytes& token);
  static Bytes float_token(float x);
  static Bytes string_token(const std::string& s);

 private:
  void accept_loop();
  void client_loop(int fd);

  std::string ip_;
  int listen_fd_ = -1;
  std::atomic<bool> running_{true};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  Handler handler_;
  std::vector<int> clients_;
  std::vector<std::thread> client_threads_;
  std::vector<DeskRequest> requests_;
};

}  // namespace gmtest
