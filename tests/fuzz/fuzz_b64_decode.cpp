// Fuzz target: Base64 decoding of arbitrary text. What decodes is at most three bytes for four
// characters, and whitespace put anywhere changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "release_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string out, again;
  if (!gm_release::b64_decode(text, out)) return 0;
  fuzz::check(out.size() * 4 <= size * 3);
  fuzz::check(gm_release::b64_decode(
                  "\r\n" + text.substr(0, size / 2) + " \t" + text.substr(size / 2), again) &&
              again == out);
  return 0;
}
