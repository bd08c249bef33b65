// Assembly of the virtual desk.
#include "sim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>

#include "commands.h"
#include "desk_layout.h"
#include "log.h"
#include "net.h"

namespace wingsim {
namespace {

int g_signal_fd = -1;

void on_signal(int) {
  if (g_signal_fd >= 0) {
    const char c = 'q';
    (void)!write(g_signal_fd, &c, 1);
  }
}

}  // namespace

Sim::Sim(Options options)
    : options_(std::move(options)),
      identity_{options_.ip, options_.name, options_.model, options_.serial, options_.firmware},
      desk_(NodeTree()),
      meter_(
          [this](const sockaddr_in& to, const uint8_t* p, size_t n) { udp_.send_meter(to, p, n); }),
      udp_(reactor_, identity_, desk_, options_.x32),
      server_(reactor_, desk_, meter_),
      control_(reactor_, [this](const std::string& line) { return run_command(*this, line); }) {
  reactor_.add_ticker([this](int64_t now) { return meter_.tick(now); });
}

Sim::~Sim() {
  g_signal_fd = -1;
  for (int& fd : signal_pipe_) close_fd(fd);
}

bool Sim::start(std::string& err) {
  log_set_quiet(options_.quiet);
  LayoutOptions layout{options_.mod_card, options_.crd_card};
  std::vector<PatchEntry> patch;
  if (!build_layout(options_.nodes, layout, desk_.tree(), err)) return false;
  if (!parse_patch(options_.patch, patch, err) || !repatch(patch, err)) return false;
  if (!open_network(options_.ip, err)) return false;
  if (!options_.control.empty() && !control_.listen_unix(options_.control, err)) return false;
  if (options_.use_stdin) control_.use_stdin();
  watch_signals();
  logf("%s at %s (%s, %s, %s)", options_.x32 ? "X32" : "WING", identity_.ip.c_str(),
       identity_.name.c_str(), identity_.model.c_str(), identity_.firmware.c_str());
  return true;
}

bool Sim::open_network(const std::string& ip, std::string& err) {
  if (!udp_.open(ip, err)) return false;
  return options_.x32 || server_.listen(ip, err);
}

void Sim::watch_signals() {
  if (pipe2(signal_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_signal_fd = signal_pipe_[1];
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  reactor_.watch(signal_pipe_[0], POLLIN, [this](short) { quit(); });
}

void Sim::run() {
  reactor_.run();
}

bool Sim::desk_set(int leaf, const Value& v) {
  const std::vector<int> changed = desk_.apply(leaf, v);
  server_.push(changed);
  return !changed.empty();
}

bool Sim::repatch(const std::vector<PatchEntry>& entries, std::string& err) {
  for (const PatchEntry& e : entries) {
    const std::string out = "/io/out/" + e.out_group + "/" + std::to_string(e.out) + "/";
    const int grp = desk_.tree().find(out + "grp");
    const int in = desk_.tree().find(out + "in");
    if (grp == NodeTree::kNone || in == NodeTree::kNone ||
        !desk_set(grp, Value{true, 0, e.source}) ||
        !desk_set(in, Value{false, double(e.input), {}})) {
      err = "Cannot patch " + e.out_group + " " + std::to_string(e.out) + " to " + e.source + ".";
      return false;
    }
  }
  return true;
}

bool Sim::move(const std::string& ip, std::string& err) {
  if (!valid_ipv4(ip)) {
    err = "The address " + ip + " is not IPv4 text.";
    return false;
  }
  const std::string old = identity_.ip;
  if (ip == old) return true;
  if (!open_network(ip, err)) {
    std::string ignored;
    udp_.open(old, ignored);
    return false;
  }
  identity_.ip = ip;
  meter_.forget_all();
  logf("moved from %s to %s", old.c_str(), ip.c_str());
  return true;
}

}  // namespace wingsim
