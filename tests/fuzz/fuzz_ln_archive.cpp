// Fuzz target: the system's network-extension archive as any file at its path could read, parsed
// into the per-app Local Network switches.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "fuzz_check.h"
#include "netperm_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::map<std::string, int> switches = {{"left over", 1}};
  const bool ok = gm::parse_switches(bytes, &switches);
  fuzz::check(ok || switches.empty());
  for (const auto& [id, sw] : switches) {
    fuzz::check(!id.empty() && id.size() <= 511 && (sw == gm::kSwitchOn || sw == gm::kSwitchOff));
    fuzz::check(gm::ln_switch_parse(bytes, id) == sw);
  }
  fuzz::check(gm::ln_switch_parse(bytes, "") == (ok ? gm::kSwitchUnlisted : gm::kSwitchUnreadable));
  return 0;
}
