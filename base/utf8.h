// Text from outside (a console's reply, a settings file, another process's status block, a file
// name) made fit for an output that must be UTF-8. Reading is forgiving: each ill-formed sequence
// reads as U+FFFD, one for each maximal subpart (the longest start of a well-formed sequence, or
// else a single byte), as Unicode recommends, so that what follows it is never swallowed. What an
// output does with control characters is its own choice: a JSON writer escapes them, a line of
// text makes them spaces.
//
// Threads: any; nothing here holds state. Nothing blocks or fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gm_base {

inline constexpr char32_t kReplacementChar = 0xFFFD;
inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// The character that starts at s[at] (at < s.size()): sets *c to it, or to U+FFFD for an
// ill-formed sequence, and returns how many bytes it took (at least 1).
size_t utf8_next(std::string_view s, size_t at, char32_t* c);

// C0 controls, DEL and C1 controls: U+0000-U+001F and U+007F-U+009F.
constexpr bool is_control(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// `s` as one line of valid UTF-8: ill-formed sequences as U+FFFD, and every control character
// (a NUL, CR and LF among them) as a space. Valid text without controls comes back unchanged.
std::string text_line(std::string_view s);

}  // namespace gm_base
