// The namespace lab of the rig (sim/drive/netns_lab.h), under the names the tests use.
#pragma once

#include "drive/netns_lab.h"

namespace gmtest {

using rig::lab_address;
using rig::NetnsLab;
using rig::run_in_netns;

}  // namespace gmtest
