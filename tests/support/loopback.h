// Loopback addresses for tests: each desk in a test gets its own 127.x.y.z, so tests that use
// the desk's fixed ports run in parallel without meeting.
#pragma once

#include <string>

namespace gmtest {

// A fresh address in 127.0.0.0/8, different for every call in this process and, with high
// probability, from every other test process (derived from the process id).
std::string unique_loopback();

}  // namespace gmtest
