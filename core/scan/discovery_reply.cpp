// The consoles' discovery replies turned into lines of text. Pure functions over the bytes that
// arrived, kept apart from the sockets so that they can be fuzzed alone.
#include <cstring>
#include <string>

#include "base/utf8.h"
#include "discovery.h"

namespace gm {
namespace {

constexpr size_t kMinWingReply = 6;
constexpr size_t kXinfoHeader = 16;  // "/xinfo" padded to 8, then the 8-byte type tags

// A reply as one line of valid UTF-8: a control character inside becomes a space, so that the
// fields after it survive; spaces (a CR LF, say) that close the reply are dropped.
std::string reply_line(std::string_view text) {
  std::string line = gm_base::text_line(text);
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

// The OSC string at *at (NUL-terminated, padded to 4 bytes); "" once the datagram has ended. *at
// moves past it.
std::string osc_string(const uint8_t* p, size_t n, size_t* at) {
  if (*at >= n) return "";
  const char* from = reinterpret_cast<const char*>(p + *at);
  const size_t len = strnlen(from, n - *at);
  *at += (len / 4 + 1) * 4;
  return std::string(from, len);
}

}  // namespace

std::string field(const std::string& line) {
  const size_t first = line.find(',');
  if (first == std::string::npos) return "";
  const size_t second = line.find(',', first + 1);
  return line.substr(first + 1,
                     second == std::string::npos ? std::string::npos : second - first - 1);
}

bool wing_reply_line(const uint8_t* p, size_t n, std::string* line) {
  if (!p || n < kMinWingReply) return false;
  if (n > kMaxReply) n = kMaxReply;
  const void* at = memmem(p, n, "WING,", 5);
  if (!at) return false;
  const char* from = static_cast<const char*>(at);
  const size_t left = n - static_cast<size_t>(from - reinterpret_cast<const char*>(p));
  *line = reply_line(std::string_view(from, strnlen(from, left)));
  return true;
}

bool xinfo_reply_line(const uint8_t* p, size_t n, std::string* line) {
  if (!p || n < kXinfoHeader || std::memcmp(p, "/xinfo\0", 7) != 0) return false;
  size_t at = kXinfoHeader;
  std::string text = "X32";
  for (int i = 0; i < 4; ++i) text += "," + osc_string(p, n, &at);
  *line = reply_line(text);
  return true;
}

}  // namespace gm
