// LV1 loads and unloads the wing module at every live update: each cycle of dlopen, start,
// attach, stop and dlclose must give back everything the module took. Built and run only under
// AddressSanitizer, with LeakSanitizer switched on for this test alone.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sanitizer/lsan_interface.h>

#include <cstdlib>
#include <string>

#include "support/eventually.h"
#include "support/host_harness.h"
#include "support/loopback.h"
#include "support/temp_home.h"

namespace {

using namespace gmtest;

// One life of the module in LV1: loaded, started, attached, used, stopped and unloaded.
void load_run_unload(FakeHost& host, int cycle) {
  SCOPED_TRACE("cycle " + std::to_string(cycle));
  void* lib = dlopen(GM_WING_DYLIB, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto entry = reinterpret_cast<GmModuleEntryFn>(dlsym(lib, "gm_module_entry"));
  ASSERT_NE(entry, nullptr);
  const GmModule* m = entry(GM_MODULE_ABI);
  ASSERT_NE(m, nullptr);

  const int sweeps = host.count_lines("[bridge] discovery sweep 1 ...");
  ASSERT_EQ(m->start(host.table()), 1);
  WingGainIface iface{};
  m->attach(&iface);
  m->set_gain(0, 12.0);
  m->set_phantom(1, 1);
  EXPECT_EQ(m->has_preamp(70), 0);
  const double gain[64] = {};
  const int phantom[64] = {}, present[64] = {1};
  m->recall(gain, phantom, present);
  // The discover thread has run and logged before the stop.
  EXPECT_TRUE(
      eventually([&] { return host.count_lines("[bridge] discovery sweep 1 ...") > sweeps; },
                 std::chrono::seconds(5)));
  ASSERT_EQ(m->stop(), 1) << "a thread was left running, so the module may not be unloaded";

  ASSERT_EQ(dlclose(lib), 0) << dlerror();
  EXPECT_EQ(dlopen(GM_WING_DYLIB, RTLD_NOW | RTLD_NOLOAD), nullptr)
      << "the module stayed mapped after its last dlclose";
}

TEST(ModuleUnload, EveryLoadAndUnloadGivesBackWhatTheModuleTook) {
  const char* options = std::getenv("ASAN_OPTIONS");
  ASSERT_TRUE(options == nullptr ||
              std::string(options).find("detect_leaks=0") == std::string::npos)
      << "LeakSanitizer is off (ASAN_OPTIONS=" << options << "), so no leak could be seen";
  TempHome home;
  const std::string cfg = home.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg",
                                     "watch=8\nip=" + unique_loopback() + "\n");
  FakeHost host;
  host.set_cfg_path(wide(cfg));
  host.set_instance_tag(L"-unload");
  for (int cycle = 1; cycle <= 4; ++cycle) {
    load_run_unload(host, cycle);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "see the leak report above";
}

}  // namespace
