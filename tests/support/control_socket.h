// The rig programs' control channel as tests use it (see drive/control_client.h).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "drive/control_client.h"

namespace gmtest {

using rig::control_command;
using rig::ControlReply;
using rig::unique_control_path;

// Sends a command that must be taken: a failure names the command and the program's answer.
inline ::testing::AssertionResult took(rig::RigProgram& program, const std::string& line) {
  program.cmd(line);
  if (program.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << line << ": " << program.error();
}

}  // namespace gmtest
