// Base64 decoding and release versions.
#include "release_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace gm_release {
namespace {

int b64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// One strtol number at `s`; false when nothing was read or it does not fit 32 bits.
bool read_part(const char*& s, int32_t& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (end == s || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  s = end;
  return true;
}

}  // namespace

bool b64_decode(std::string_view text, std::string& out) {
  out.clear();
  uint32_t acc = 0;
  int bits = 0;
  int pads = 0;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c == '=') {
      ++pads;
      continue;
    }
    const int v = b64_value(c);
    if (v < 0 || pads > 0) return false;
    acc = (acc << 6 | static_cast<uint32_t>(v)) & 0xFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return bits < 6 && pads < 3;
}

Ver parse_ver(std::string_view text) {
  const std::string s(text);  // strtol needs a terminator
  const char* p = s.c_str();
  Ver v;
  if (!read_part(p, v.major) || *p++ != '.' || !read_part(p, v.minor) || *p++ != '.' ||
      !read_part(p, v.patch)) {
    return Ver();
  }
  v.pre = *p == '-';
  return v;
}

int compare(const Ver& a, const Ver& b) {
  if (a.major != b.major) return a.major < b.major ? -1 : 1;
  if (a.minor != b.minor) return a.minor < b.minor ? -1 : 1;
  if (a.patch != b.patch) return a.patch < b.patch ? -1 : 1;
  if (a.pre != b.pre) return a.pre ? -1 : 1;
  return 0;
}

}  // namespace gm_release
