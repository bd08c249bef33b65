// The virtual desk as a whole: its tree and rules, its network sides and its control
// channel, all driven by one event loop.
#pragma once

#include <string>
#include <vector>

#include "control.h"
#include "desk.h"
#include "meter.h"
#include "native_server.h"
#include "options.h"
#include "patch_list.h"
#include "reactor.h"
#include "udp_responder.h"

namespace wingsim {

class Sim {
 public:
  explicit Sim(Options options);
  ~Sim();
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  // Builds the desk and opens every socket and control channel. False with a reason.
  bool start(std::string& err);
  // Runs until quit(), SIGINT or SIGTERM.
  void run();
  void quit() { reactor_.stop(); }

  const Options& options() const { return options_; }
  Desk& desk() { return desk_; }
  NativeServer& server() { return server_; }
  const UdpResponder& udp() const { return udp_; }
  Meter& meter() { return meter_; }
  Identity& identity() { return identity_; }

  // A change made at the desk: applied by the desk's rules and pushed to the clients. False
  // when the value does not suit the leaf.
  bool desk_set(int leaf, const Value& v);
  // Patches card outputs at the desk. False with a reason when an output or source is unknown.
  bool repatch(const std::vector<PatchEntry>& entries, std::string& err);
  // The desk takes a new address: every socket is bound there and clients are dropped. On
  // failure nothing changes and err holds the reason.
  bool move(const std::string& ip, std::string& err);

 private:
  bool open_network(const std::string& ip, std::string& err);
  void watch_signals();

  Options options_;
  Identity identity_;
  Reactor reactor_;
  Desk desk_;
  Meter meter_;
  UdpResponder udp_;
  NativeServer server_;
  ControlChannel control_;
  int signal_pipe_[2] = {-1, -1};
};

}  // namespace wingsim
