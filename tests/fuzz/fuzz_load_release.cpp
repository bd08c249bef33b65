// Fuzz target: the update server's reply, and the same bytes read as an item object. A refusal
// always says why; an accepted item meets every check.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "release.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz::check;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  gm_release::Release out;
  std::string err;
  check(gm_release::load_release(bytes, gm_release::kMac, out, err) || !err.empty());
  gm_release::J j;
  gm_release::Item item;
  if (!gm_release::parse_json(bytes, j) || !gm_release::item_of(j, item)) return 0;
  check(item.sig.size() == 64 && item.url.rfind("https://", 0) == 0 && item.sha256.size() == 64 &&
        item.size > 0 && item.size <= gm_release::kMaxFileBytes && item.abi >= -1 &&
        !item.file.empty() && item.file.find('/') == std::string::npos);
  return 0;
}
