// The desk's UDP side: discovery ("WING?" on port 2222), OSC queries on port 2223 and, in
// X32 / M32 mode, "/xinfo" on port 10023 and nothing else. It answers what it receives and
// never sends on its own, except the meter frames handed to send_meter.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "desk.h"
#include "reactor.h"

namespace wingsim {

// Who the desk says it is.
struct Identity {
  std::string ip;
  std::string name;
  std::string model;
  std::string serial;
  std::string firmware;
};

// "WING,<ip>,<name>,<model>,<serial>,<firmware>"
std::string discovery_line(const Identity& id);

class UdpResponder {
 public:
  // id and desk must outlive the responder; they are read when a query arrives.
  UdpResponder(Reactor& reactor, const Identity& id, const Desk& desk, bool x32);
  ~UdpResponder();
  UdpResponder(const UdpResponder&) = delete;
  UdpResponder& operator=(const UdpResponder&) = delete;

  // Binds the desk's ports at ip. The earlier sockets are replaced only when every bind
  // succeeded; otherwise they stay and err holds the reason.
  bool open(const std::string& ip, std::string& err);
  void close();
  // One datagram from the desk's UDP port 2222 (meter frames); dropped when not open.
  void send_meter(const sockaddr_in& to, const uint8_t* p, size_t n);
  // "WING?" and "/xinfo" questions received since the desk started, answered or not.
  unsigned discovery_questions() const { return questions_; }

 private:
  void watch_all();
  void on_discovery();
  void on_osc();
  void on_xinfo();

  Reactor& reactor_;
  const Identity& id_;
  const Desk& desk_;
  bool x32_;
  int discovery_fd_ = -1;  // 2222
  int osc_fd_ = -1;        // 2223
  int xinfo_fd_ = -1;      // 10023
  unsigned questions_ = 0;
};

}  // namespace wingsim
