// Spawning the virtual desk and reading values at it.
#include "drive/wingsim_runner.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace rig {
namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kAnswerTimeoutMs = 10000;

std::vector<std::string> argv_of(const WingSim::Options& o, const std::string& control) {
  std::vector<std::string> args = {o.program,  "--ip",      o.ip,       "--name",    o.name,
                                   "--model",  o.model,     "--serial", o.serial,    "--firmware",
                                   o.firmware, "--control", control,    "--no-stdin"};
  args.insert(args.end(), o.extra.begin(), o.extra.end());
  return args;
}

}  // namespace

WingSim::WingSim(Options options)
    : RigProgram("wingsim", kAnswerTimeoutMs, options.keep_control_open),
      options_(std::move(options)) {
  if (options_.ip.empty()) throw std::runtime_error("wingsim needs an address");
  ChildSpec spec;
  spec.argv = argv_of(options_, control_path());
  start(spec, "clients", kStartTimeoutMs);
}

double WingSim::number(const std::string& path) {
  const std::vector<std::string> lines = cmd("get " + path);
  if (!ok() || lines.empty()) return std::nan("");
  const std::string& l = lines.front();
  const size_t sp = l.find_last_of(' ');
  return std::strtod(l.c_str() + (sp == std::string::npos ? 0 : sp + 1), nullptr);
}

}  // namespace rig
