// Fuzz target: datagrams arriving on the meter port, from the desk or from anyone else. The
// first input byte picks the form: a raw datagram, or a full-size frame of the current report
// id whose words come from the input (so that the decoder itself is reached). Every value read
// back must be a level a 16-bit word can carry, with a peak no lower than it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "wing_native.h"

namespace {

using fuzz::check;

constexpr uint8_t kId = 0x5A;
constexpr const char* kGroups[] = {"LCL", "AUX", "A",   "B",    "C",   "SC",
                                   "USB", "CRD", "MOD", "PLAY", "AES", "USR"};

void check_readers() {
  if (!gm::wnat_metering()) return;
  for (const char* g : kGroups) {
    const int n = gm::wnat_group_inputs(g);
    for (int in = 0; in <= n + 1; ++in) {
      double level = 0, peak = 0;
      const bool has = gm::wnat_input_level(g, in, &level);
      check(has == (in >= 1 && in <= n && in <= 64));
      check(gm::wnat_input_peak(g, in, &peak) == has);
      if (!has) continue;
      check(level >= -128.0 && level < 128.0);
      check(std::isfinite(peak) && peak >= level);
      gm::wnat_input_clipped(g, in);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (gm::wnat_reset_for(kId), true);
  (void)ready;
  if (size < 5) return 0;
  const uint8_t mode = data[0];
  uint32_t now;
  std::memcpy(&now, data + 1, sizeof now);
  data += 5;
  size -= 5;
  if (mode & 1) {
    uint8_t frame[gm::kWnatFrameBytes] = {0, 0, 0, kId};
    std::memcpy(frame + 4, data, size < sizeof frame - 4 ? size : sizeof frame - 4);
    check(gm::wnat_decode_datagram(frame, sizeof frame, now));
  } else {
    gm::wnat_decode_datagram(data, static_cast<int>(size), now);
  }
  check_readers();
  return 0;
}
