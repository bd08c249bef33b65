// The desk's native control port (TCP 2222): several clients at once, each sending requests
// on the control channel (DF D1) or meter requests on the meter channel (DF D3). Requests are
// answered from the desk's tree; every change a set makes is pushed to every control client,
// the sender included. The faults a test can inject act here.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desk.h"
#include "meter.h"
#include "out_queue.h"
#include "reactor.h"
#include "wingbin_codec.h"

namespace wingsim {

struct ServerFaults {
  bool silent = false;       // read and ignore every request; push nothing
  int delay_ms = 0;          // every reply and push leaves this much later
  bool split = false;        // every reply and push leaves one byte at a time
  std::string list_without;  // list replies leave out the leaves of this name ("" = none)
};

class NativeServer {
 public:
  NativeServer(Reactor& reactor, Desk& desk, Meter& meter);
  ~NativeServer();
  NativeServer(const NativeServer&) = delete;
  NativeServer& operator=(const NativeServer&) = delete;

  // Listens on ip:2222. On success the earlier listener and every client connection are
  // closed (the desk has moved); on failure they stay and err holds the reason.
  bool listen(const std::string& ip, std::string& err);
  // Closes / reopens the listener at the current address (connects are refused meanwhile);
  // clients stay connected.
  void refuse(bool on, std::string& err);
  bool refusing() const { return listen_fd_ < 0; }
  // Closes every client connection.
  void drop_all();

  // Pushes the records of these leaves to every control client (nothing while silent).
  void push(const std::vector<int>& leaves);
  // Sends n bytes of noise (never DF) to every control client.
  void send_garbage(size_t n);
  ServerFaults& faults() { return faults_; }

  // Connections that are not meter-only.
  int control_clients() const;
  // Every set received from clients, "path value", oldest first.
  const std::vector<std::string>& sets() const { return sets_; }
  void clear_sets() { sets_.clear(); }

 private:
  struct Conn;
  void on_accept();
  void on_event(uint64_t id, short revents);
  bool read_from(Conn& c);
  void route(Conn& c, const uint8_t* p, size_t n);
  void run_requests(Conn& c);
  void handle(Conn& c, const gm::WbinRequest& r);
  void handle_set(Conn& c, const gm::WbinRequest& r, int node);
  void send(Conn& c, std::vector<uint8_t> bytes);
  void close_conn(uint64_t id, const char* why);
  int64_t tick(int64_t now);
  bool flush(Conn& c, int64_t now);

  Reactor& reactor_;
  Desk& desk_;
  Meter& meter_;
  std::string ip_;
  int listen_fd_ = -1;
  uint64_t next_id_ = 1;
  std::map<uint64_t, std::unique_ptr<Conn>> conns_;
  std::vector<std::string> sets_;
  ServerFaults faults_;
  uint32_t noise_ = 0x9E3779B9u;
};

}  // namespace wingsim
