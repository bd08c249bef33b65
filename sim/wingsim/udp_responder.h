// The desk's UDP side: discovery ("WING?" on port 2222), OSC queries on port 2223 and, in
// X32 / M32 mode, "/xinfo" on port 10023 and nothing else. It answers what it receives and
// never sends on its own, except the meter frames handed to send_meter.
//
// Like a real desk it names its own address in discovery answers: bound to the wildcard, the
// address of the interface the question arrived on; bound to one address, that address, and
// then it also hears the broadcasts (255.255.255.255 and the directed one) that reach that
// address's interface, unless the interface is loopback or cannot broadcast.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "desk.h"
#include "net.h"
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

  // Binds the desk's ports at ip, and the broadcast listeners of its network (see above). The
  // earlier sockets are replaced only when every bind succeeded; otherwise they stay and err
  // holds the reason.
  bool open(const std::string& ip, std::string& err);
  void close();
  // One datagram from the desk's UDP port 2222 (meter frames); dropped when not open.
  void send_meter(const sockaddr_in& to, const uint8_t* p, size_t n);
  // "WING?" and "/xinfo" questions received since the desk started, answered or not.
  unsigned discovery_questions() const { return questions_; }

 private:
  struct Sockets {
    int discovery = -1;          // 2222
    int osc = -1;                // 2223
    int xinfo = -1;              // 10023
    std::vector<int> heard;      // broadcast listeners of 2222 (WING) or 10023 (X32 / M32)
    unsigned heard_ifindex = 0;  // the interface whose broadcasts they take
  };
  bool open_sockets(const std::string& ip, Sockets& s, std::string& err);
  void watch_all();
  // The address to name in the answer to a datagram that reached fd; false when the datagram
  // is not the desk's to answer.
  bool answer_as(int fd, const Arrival& a, in_addr& self) const;
  void on_discovery(int fd);
  void on_osc();
  void on_xinfo(int fd);

  Reactor& reactor_;
  const Identity& id_;
  const Desk& desk_;
  bool x32_;
  Sockets fds_;
  in_addr bound_{};  // INADDR_ANY: the wildcard
  unsigned questions_ = 0;  // "WING?" and "/xinfo" received
};

}  // namespace wingsim
