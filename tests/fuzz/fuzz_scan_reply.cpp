// Fuzz target: a datagram as any host could send it to the app's console scan, read both as a
// WING discovery reply and as an X32 / M32 /xinfo reply: each line is one line of what arrived.
#include <cstring>
#include <string>

#include "discovery.h"
#include "fuzz_check.h"

namespace {

// No C0 control or DEL; the C1 controls are checked where the text is read as UTF-8.
bool one_line(const std::string& line) {
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

// Each byte of the datagram becomes at most three (U+FFFD) in the line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line;
  if (gm::wing_reply_line(data, size, &line)) {
    fuzz::check(size >= 6 && line.rfind("WING,", 0) == 0 && line.size() <= 3 * gm::kMaxReply);
    fuzz::check(one_line(line));
  }
  if (gm::xinfo_reply_line(data, size, &line)) {
    fuzz::check(size >= 16 && std::memcmp(data, "/xinfo", 6) == 0 && line.rfind("X32", 0) == 0);
    fuzz::check(line.size() <= 3 * size + 4 && one_line(line));
  }
  return 0;
}
