// Fuzz target: a discovery reply as any host on the network could send it, parsed, adopted and
// read back for the group sizes; and the desk's port device text for the stage-box count.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "desk_wing.h"
#include "fuzz_check.h"
#include "wing_native.h"

namespace {

using fuzz::check;

// A text field must end inside its record.
void check_text(const char* field, size_t size) {
  check(std::memchr(field, 0, size) != nullptr);
}

void check_record(const gm::DeskFound& d, const char* data, size_t size) {
  check_text(d.ip, sizeof d.ip);
  check_text(d.name, sizeof d.name);
  check_text(d.model, sizeof d.model);
  check_text(d.id, sizeof d.id);
  check_text(d.line, sizeof d.line);
  check(d.card == -1 && d.id[0]);
  const size_t line = std::strlen(d.line);
  check(line <= size && std::memcmp(d.line, data, line) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  gm::DeskFound d;
  std::memset(&d, 0xA5, sizeof d);
  if (gm::wing_parse_reply(text, size, "192.0.2.1", &d)) {
    check(size >= 4 && std::memcmp(text, "WING", 4) == 0);
    check_record(d, text, size);
    gm::wing_adopt(&d);
    const int lcl = gm::wing_group_size("LCL");
    check(lcl == 24 || lcl == 8 || lcl == gm::wnat_group_inputs("LCL"));
  }
  const std::string device(text, size);
  const int preamps = gm::wing_device_preamps(device.c_str());
  check(preamps >= -1 && preamps <= static_cast<int>(size) * 16);
  return 0;
}
