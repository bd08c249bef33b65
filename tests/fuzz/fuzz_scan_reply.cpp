// Fuzz target: a datagram as any host could send it to the app's console scan, read both as a
// WING discovery reply and as an X32 / M32 /xinfo reply: each line is one line of what arrived.
#include <cstring>
#include <string>

#include "core/discovery.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line;
  if (gm::wing_reply_line(data, size, &line)) {
    fuzz::check(size >= 6 && line.rfind("WING,", 0) == 0 && line.size() <= gm::kMaxReply);
    fuzz::check(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  }
  if (gm::xinfo_reply_line(data, size, &line)) {
    fuzz::check(size >= 16 && std::memcmp(data, "/xinfo", 6) == 0 && line.rfind("X32", 0) == 0);
    fuzz::check(line.size() <= size + 4 && line.find_first_of("\r\n") == std::string::npos);
  }
  return 0;
}
