// Fuzz target: the gain-definition parser and the walk over a node's list reply, both fed with
// bytes as a desk could send them.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "wing_ctl.h"

namespace {

bool low_bit_is_foreign(void*, uint32_t hash) {
  return hash & 1;
}

void touch_value(void* ctx, uint32_t, const uint8_t* value, int len) {
  uint8_t* sum = static_cast<uint8_t*>(ctx);
  for (int i = 0; i < len; ++i) *sum ^= value[i];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const int len = static_cast<int>(size);
  double lo = 0, hi = 0, step = 0;
  if (gm::wctl_parse_range(data, len, &lo, &hi, &step)) {
    fuzz::check(hi > lo && hi - lo <= 200 && step > 0);
  }
  uint8_t sum = 0;
  const gm::WctlRecordSink sink{&sum, low_bit_is_foreign, touch_value};
  const uint32_t known = len >= 4 ? (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) |
                                        (uint32_t(data[2]) << 8) | data[3]
                                  : 0;
  const gm::WctlChannelScan s = gm::wctl_scan_channel(data, len, 0, 0, sink);
  const gm::WctlChannelScan k = gm::wctl_scan_channel(data, len, known, known ^ 1, sink);
  fuzz::check(s.counted >= 0 && s.counted <= len / 6 && k.counted <= len / 6);
  return 0;
}
