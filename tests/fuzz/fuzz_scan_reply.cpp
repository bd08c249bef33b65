// Fuzz target: a datagram as any host could send it to the app's console scan, read both as a
// WING discovery reply and as an X32 / M32 /xinfo reply, and the address taken from each line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/discovery.h"
#include "fuzz_check.h"

namespace {

using fuzz::check;

// A reply line is one line, and its address lies inside it.
void check_line(const std::string& line) {
  check(line.find_first_of("\r\n") == std::string::npos);
  check(gm::field(line).size() < line.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line;
  if (gm::wing_reply_line(data, size, &line)) {
    check(size >= 6 && line.rfind("WING,", 0) == 0 && line.size() <= gm::kMaxReply);
    check(line.find('\0') == std::string::npos);
    check_line(line);
  }
  line.clear();
  if (gm::xinfo_reply_line(data, size, &line)) {
    check(size >= 16 && std::memcmp(data, "/xinfo", 6) == 0 && line.rfind("X32", 0) == 0);
    check(line.size() <= size + 4);
    check_line(line);
  }
  return 0;
}
