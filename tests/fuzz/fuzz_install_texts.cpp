// The installer's readers of Waves' files: the device-list merge and the assignment-priority
// rewrite, on any bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "install_texts.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t cut = text.find('\0');
  const std::string ours = text.substr(0, cut),
                    theirs = cut == std::string::npos ? "" : text.substr(cut + 1);
  const std::string merged = gm::merge_device_list(ours, theirs);
  fuzz::check(merged.compare(0, ours.size(), ours) == 0);  // only ever appends
  fuzz::check(gm::merge_device_list(merged, theirs) == merged);
  const std::string rewritten = gm::rewrite_assignment_priority(text);
  fuzz::check(std::count(rewritten.begin(), rewritten.end(), '\n') ==
              std::count(text.begin(), text.end(), '\n'));
  return 0;
}
