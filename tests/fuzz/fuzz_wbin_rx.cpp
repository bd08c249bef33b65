// Fuzzes the control link's receive path: raw bytes from the desk through the receive thread's
// unescaping and record split. The first byte chooses the request outstanding meanwhile (none,
// value with or without an expected hash, definition, list), so every reply path is reached.
#include <cstddef>
#include <cstdint>

#include "wingbin.h"

namespace {

void on_push(const char*, int, const char*, double, bool) {}
void on_unknown(uint32_t, double, bool, uint8_t) {}

bool setup() {
  gm::wbin_on_push(on_push);
  gm::wbin_on_unknown(on_unknown);
  gm::wbin_preload("WING,127.0.0.1,fuzz,wing-rack,S0,3.1-0-g9f314617");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  (void)ready;
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  gm::WbinTestRequest req{false, false, 0};
  switch (mode % 5) {
    case 1:
      req.expected_hash = 0x1CB9CE6Bu;
      break;  // LCL 1 g, a preloaded hash
    case 2:
      req.raw = true;
      break;
    case 3:
      req.collect = true;
      break;
    case 4:
      req.expected_hash = 0;
      break;
    default:
      break;
  }
  const gm::WbinTestRequest* pending = mode % 5 == 0 ? nullptr : &req;
  // Feed in two receive calls split where the second byte says, as a socket might deliver it.
  const size_t body = size - 1;
  const size_t cut = size > 1 ? data[1] % (body + 1) : 0;
  gm::wbin_rx_feed_for_tests(data + 1, cut, nullptr);
  gm::wbin_rx_feed_for_tests(data + 1 + cut, body - cut, pending);
  return 0;
}
