// The text forms inside a release manifest: Base64 (signatures and the signed body) and release
// versions with their order. Pure functions, thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gm_release {

// RFC 4648 Base64 (alphabet A-Z a-z 0-9 + /). `out` is cleared first. Space, tab, LF and CR are
// skipped anywhere; "=" counts as padding and an alphabet character after one fails; any other
// character fails. Accepted when fewer than 6 bits are left over and fewer than 3 "=" were seen.
// Empty text decodes to no bytes.
bool b64_decode(std::string_view text, std::string& out);

// A release version: three numbers and whether a pre-release marker ("-") follows the third.
// major -1 marks a version that did not parse.
struct Ver {
  int32_t major = -1;
  int32_t minor = 0;
  int32_t patch = 0;
  bool pre = false;
};

// "3.2.0", "3.2.0.7" -> 3.2.0; "3.2.0-rc1" -> 3.2.0 pre-release; "3.2" does not parse. Each
// number is read as strtol does in base 10 (leading whitespace and a sign allowed); one outside
// 32 bits makes the whole version unparsed.
Ver parse_ver(std::string_view text);

// Orders by major, minor, patch, then a pre-release below the release itself; any text after
// the numbers is never compared. An unparsed version (-1.0.0) is below every one with a major
// number of 0 or more.
int compare(const Ver& a, const Ver& b);
inline bool operator<(const Ver& a, const Ver& b) {
  return compare(a, b) < 0;
}
inline bool operator>(const Ver& a, const Ver& b) {
  return compare(a, b) > 0;
}
inline bool operator<=(const Ver& a, const Ver& b) {
  return compare(a, b) <= 0;
}
inline bool operator>=(const Ver& a, const Ver& b) {
  return compare(a, b) >= 0;
}
inline bool operator==(const Ver& a, const Ver& b) {
  return compare(a, b) == 0;
}

}  // namespace gm_release
