// Runs the virtual WING (build/<preset>/sim/wingsim) for a test, on its own loopback address
// (see unique_loopback), and talks to its control channel as the person at the desk would.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "drive/wingsim_runner.h"

namespace gmtest {

class WingSimProcess : public rig::WingSim {
 public:
  // Starts the build's wingsim (unless options.program names another) and waits until its
  // control channel answers (throws on failure).
  explicit WingSimProcess(Options options);
  // The same with every option at its default but the address.
  explicit WingSimProcess(const std::string& ip);
  // Asks it to quit, then kills it if it does not; a desk that ends with a non-zero status (a
  // sanitizer report, say) fails the test.
  ~WingSimProcess();
};

// The node hashes of the real desk's firmware 3.1 (data/wing-fw3.1-nodes.tsv): path -> hash.
std::map<std::string, uint32_t> firmware_hashes();

}  // namespace gmtest
