// Fuzz target: the release manifest's JSON reader over arbitrary bytes. An accepted document
// nests at most 32 levels, and nothing but whitespace may follow its value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "release_json.h"

static int depth_of(const gm_release::J& j) {
  int d = 0;
  for (const auto& i : j.items) d = std::max(d, depth_of(i));
  for (const auto& m : j.members) d = std::max(d, depth_of(m.value));
  return d + 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string doc(reinterpret_cast<const char*>(data), size);
  gm_release::J j, again;
  if (!gm_release::parse_json(doc, j)) return 0;
  fuzz::check(depth_of(j) <= 32);
  fuzz::check(!gm_release::parse_json(doc + "x", again));
  return 0;
}
