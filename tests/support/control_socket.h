// The rig programs' control channel as tests use it (see drive/control_client.h).
#pragma once

#include "drive/control_client.h"

namespace gmtest {

using rig::control_command;
using rig::ControlReply;
using rig::unique_control_path;

}  // namespace gmtest
