// Spawning the virtual desk and speaking to its control socket.
#include "support/wingsim_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "support/control_socket.h"
#include "support/rig_child.h"

namespace gmtest {
namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kQuitGraceMs = 3000;
constexpr int kAnswerTimeoutMs = 10000;

std::vector<std::string> argv_of(const WingSimProcess::Options& o, const std::string& control) {
  std::vector<std::string> args = {GM_BUILD_DIR "/sim/wingsim",
                                   "--ip",
                                   o.ip,
                                   "--name",
                                   o.name,
                                   "--model",
                                   o.model,
                                   "--serial",
                                   o.serial,
                                   "--firmware",
                                   o.firmware,
                                   "--control",
                                   control,
                                   "--no-stdin"};
  args.insert(args.end(), o.extra.begin(), o.extra.end());
  return args;
}

}  // namespace

WingSimProcess::WingSimProcess(Options options)
    : options_(std::move(options)), control_path_(unique_control_path("wingsim")) {
  if (options_.ip.empty()) throw std::runtime_error("WingSimProcess needs an address");
  ChildSpec spec;
  spec.argv = argv_of(options_, control_path_);
  pid_ = spawn_child(spec);
  wait_until_ready(
      pid_,
      [&] {
        cmd("clients");
        return ok_;
      },
      kStartTimeoutMs, "wingsim on " + control_path_);
}

WingSimProcess::~WingSimProcess() {
  if (pid_ <= 0) return;
  cmd("quit");
  const int status = wait_child(pid_, kQuitGraceMs);
  // A sanitizer report in the desk ends it with a non-zero status.
  if (pid_ < 0 && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    ADD_FAILURE() << "wingsim ended with status " << status;
  }
  kill_hard();
}

std::vector<std::string> WingSimProcess::cmd(const std::string& line) {
  ControlReply r = control_command(control_path_, line, kAnswerTimeoutMs);
  ok_ = r.ok;
  error_ = r.error;
  return std::move(r.lines);
}

std::vector<std::string> WingSimProcess::sets() {
  return cmd("sets");
}

void WingSimProcess::kill_hard() {
  kill_child(pid_);
  unlink(control_path_.c_str());
}

}  // namespace gmtest
