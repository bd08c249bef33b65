// The virtual desk as a test runs it.
#include "support/wingsim_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

namespace gmtest {
namespace {

WingSimProcess::Options with_program(WingSimProcess::Options o) {
  if (o.program.empty()) o.program = GM_BUILD_DIR "/sim/wingsim";
  return o;
}

}  // namespace

WingSimProcess::WingSimProcess(Options options) : rig::WingSim(with_program(std::move(options))) {}
WingSimProcess::WingSimProcess(const std::string& ip)
    : WingSimProcess(Options{.program = {}, .ip = ip, .extra = {}}) {}

WingSimProcess::~WingSimProcess() {
  const int status = quit();
  if (status != -1 && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    ADD_FAILURE() << "wingsim ended with status " << status;
  }
}

std::map<std::string, uint32_t> firmware_hashes() {
  std::map<std::string, uint32_t> out;
  std::ifstream in(GM_SOURCE_DIR "/data/wing-fw3.1-nodes.tsv");
  std::string line, path, hex;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::getline(row, path, '\t');
    std::getline(row, hex, '\t');
    out[path] = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
  }
  return out;
}

}  // namespace gmtest
