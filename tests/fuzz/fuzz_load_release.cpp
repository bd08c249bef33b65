// Fuzz target: the update server's reply and the readers under it, over arbitrary bytes. The JSON
// reader nests at most 32 levels and takes nothing but whitespace after its value; Base64 gives
// at most three bytes for four characters, whatever whitespace is put in; a refused reply always
// says why, and the same bytes read as an item object are accepted only when every check holds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "release.h"
#include "release_json.h"
#include "release_text.h"

namespace {

using fuzz::check;

int depth_of(const gm_release::J& j) {
  int d = 0;
  for (const auto& i : j.items) d = std::max(d, depth_of(i));
  for (const auto& m : j.members) d = std::max(d, depth_of(m.value));
  return d + 1;
}

void check_b64(const std::string& text) {
  std::string out, again;
  if (!gm_release::b64_decode(text, out)) return;
  check(out.size() * 4 <= text.size() * 3);
  const size_t half = text.size() / 2;
  check(gm_release::b64_decode("\r\n" + text.substr(0, half) + " \t" + text.substr(half), again) &&
        again == out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  check_b64(bytes);
  gm_release::Release out;
  std::string err;
  check(gm_release::load_release(bytes, gm_release::kMac, out, err) || !err.empty());
  gm_release::J j, again;
  if (!gm_release::parse_json(bytes, j)) return 0;
  check(depth_of(j) <= 32 && !gm_release::parse_json(bytes + "x", again));
  gm_release::Item item;
  if (!gm_release::item_of(j, item)) return 0;
  check(item.sig.size() == 64 && item.url.rfind("https://", 0) == 0 && item.sha256.size() == 64 &&
        item.size > 0 && item.size <= gm_release::kMaxFileBytes && item.abi >= -1 &&
        !item.file.empty() && item.file.find('/') == std::string::npos);
  return 0;
}
