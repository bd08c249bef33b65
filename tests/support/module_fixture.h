// The wing module in the test's own process, as the in-process suites drive it: a temporary
// home, the test host installed with its settings file at <home>/wing.cfg, and the settings and
// bridge state fresh for every test. Suites that need a desk start wingsim on an address of
// their own and connect the control link as the module does once it adopted the desk.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/host_harness.h"
#include "support/temp_home.h"
#include "support/wingsim_process.h"

namespace gmtest {

class InProcessModuleTest : public TempHomeTest {
 protected:
  void SetUp() override;
  // Stops the control link, ends the desk, closes the status block, resets settings and bridge
  // state and takes the host away.
  void TearDown() override;

  std::string cfg_path() const { return home_.path() + "/wing.cfg"; }
  // Writes wing.cfg and loads it.
  void load_settings(const std::string& text);

  // wingsim on a loopback address of its own (ip_), with more command-line options.
  void start_desk(std::vector<std::string> extra = {});
  // As the module does once it adopted the desk (firmware 3.1): the node hashes preloaded and
  // the control link up. Fails the test when it does not connect within 5 s.
  void connect_desk();
  // A change made at the desk; pause_ms lets its push arrive before what follows.
  void at_desk(const std::string& command, int pause_ms = 0);
  // The desk's discovery line for ip_, as the module adopts it.
  std::string discovery_line() const;

  FakeHost host_;
  std::string ip_;
  std::unique_ptr<WingSimProcess> sim_;
};

}  // namespace gmtest
