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
  // raw, collect, expected hash (0x1CB9CE6B: LCL 1 g, a preloaded hash; 0: any)
  static const gm::WbinTestRequest kRequests[] = {
      {false, false, 0x1CB9CE6Bu}, {true, false, 0}, {false, true, 0}, {false, false, 0}};
  const uint8_t mode = data[0] % 5;
  const gm::WbinTestRequest* pending = mode == 0 ? nullptr : &kRequests[mode - 1];
  // Feed in two receive calls split where the second byte says, as a socket might deliver it.
  const size_t body = size - 1;
  const size_t cut = size > 1 ? data[1] % (body + 1) : 0;
  gm::wbin_rx_feed_for_tests(data + 1, cut, nullptr);
  gm::wbin_rx_feed_for_tests(data + 1 + cut, body - cut, pending);
  return 0;
}
