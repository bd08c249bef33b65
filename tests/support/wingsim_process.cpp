// The virtual desk as a test runs it.
#include "support/wingsim_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace gmtest {
namespace {

WingSimProcess::Options with_program(WingSimProcess::Options o) {
  if (o.program.empty()) o.program = GM_BUILD_DIR "/sim/wingsim";
  return o;
}

}  // namespace

WingSimProcess::WingSimProcess(Options options) : rig::WingSim(with_program(std::move(options))) {}

WingSimProcess::~WingSimProcess() {
  const int status = quit();
  if (status != -1 && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    ADD_FAILURE() << "wingsim ended with status " << status;
  }
}

}  // namespace gmtest
