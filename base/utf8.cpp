// Reading UTF-8 from outside, and one line of text made from it.
#include "base/utf8.h"

namespace gm_base {
namespace {

// The bytes a sequence takes after its first, and the range its second byte must lie in (the
// later ones lie in 80-BF). Excluding overlong forms, surrogates and anything above U+10FFFF
// this way is what makes the longest well-formed start end at the first byte out of range.
struct Lead {
  int more;
  unsigned char lo, hi;
};

Lead lead_of(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
  if (b == 0xE0) return {2, 0xA0, 0xBF};
  if (b == 0xED) return {2, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
  if (b == 0xF0) return {3, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
  if (b == 0xF4) return {3, 0x80, 0x8F};
  return {0, 0, 0};  // ASCII, a stray continuation byte, C0, C1 or F5-FF
}

}  // namespace

size_t utf8_next(std::string_view s, size_t at, char32_t* c) {
  const auto b = static_cast<unsigned char>(s[at]);
  if (b < 0x80) {
    *c = b;
    return 1;
  }
  const Lead lead = lead_of(b);
  if (lead.more == 0) {
    *c = kReplacementChar;
    return 1;
  }
  char32_t value = b & (0x3F >> lead.more);
  size_t n = 1;
  for (int i = 0; i < lead.more; ++i, ++n) {
    if (at + n >= s.size()) break;
    const auto next = static_cast<unsigned char>(s[at + n]);
    const unsigned char lo = i == 0 ? lead.lo : 0x80, hi = i == 0 ? lead.hi : 0xBF;
    if (next < lo || next > hi) break;
    value = (value << 6) | (next & 0x3F);
  }
  *c = n == static_cast<size_t>(lead.more) + 1 ? value : kReplacementChar;
  return n;
}

std::string text_line(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t at = 0; at < s.size();) {
    char32_t c;
    const size_t n = utf8_next(s, at, &c);
    if (is_control(c)) {
      out += ' ';
    } else if (c == kReplacementChar) {
      out += kReplacementUtf8;
    } else {
      out.append(s.substr(at, n));
    }
    at += n;
  }
  return out;
}

}  // namespace gm_base
