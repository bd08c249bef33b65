// Fuzzes the native protocol's decoders on desk bytes: token lengths at every offset, value and
// string decoding, reply hashes, the desk-side request parser and the receive unescaper.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "wingbin_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the length is caught.
  std::vector<uint8_t> copy(data, data + size);
  const uint8_t* p = copy.data();
  const int len = static_cast<int>(size);
  for (int i = 0; i <= len; ++i) {
    const int avail = len - i;
    const uint8_t* at = p + i;
    (void)gm::wbin_token_len(avail > 0 ? at : nullptr, avail);
    double value;
    bool flag;
    (void)gm::wbin_value_of(at, avail, &value, &flag);
    char text[24];
    fuzz::check(!gm::wbin_string_of(at, avail, text, sizeof text) ||
                std::strlen(text) < sizeof text);
    (void)gm::wbin_hash_of_reply(at, avail);
  }
  for (int off = 0; off < len;) {
    gm::WbinRequest req;
    const int used = gm::wbin_parse_request(p + off, len - off, &req);
    if (used == 0) break;
    if (used < 0) {
      ++off;
      continue;
    }
    fuzz::check(used <= len - off && req.depth <= 16);
    fuzz::check(req.kind != gm::WbinRequest::kSet ||
                (req.value >= p + off && req.value + req.value_len <= p + off + used));
    off += used;
  }
  gm::WbinUnescaper u;
  uint8_t out[64];
  for (size_t off = 0; off < size; off += 7) {
    const size_t n = size - off < 7 ? size - off : 7;
    fuzz::check(u.feed(p + off, n, out, sizeof out) <= n + 1);
  }
  return 0;
}
