// The line syntax of the settings files (wing.cfg, x32.cfg, state.cfg), which the app and the
// console modules both read and edit: a setting is a line that begins with its key directly
// followed by "=", its value ends at the first line feed, carriage return or ";" (a trailing
// comment), and every other line is kept verbatim by an edit. Pure functions on text; the
// callers do the file I/O and decide how keys compare and what happens to repeated keys.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gm_base {

// How a line's key is compared with the key asked for. The module ignores case; the app and
// the module's live pick-up compare exactly.
enum class KeyMatch { kExact, kIgnoreCase };

// What an edit does with a key that several lines hold. The app replaces every one; the module
// replaces the first and drops the others.
enum class Repeats { kReplaceEvery, kKeepFirst };

// A value: `text` up to the first LF, CR, ";" or NUL.
std::string_view cfg_value_of(std::string_view text);

// True when `line` begins with `key` directly followed by "=". An empty key is held by no line.
bool cfg_holds_key(std::string_view line, std::string_view key, KeyMatch match);

// The lines of `content` as a reader with a buffer for `max_chars` characters sees them: each
// ends after its line feed (the last one may have none), and a longer line goes on as a line of
// its own. max_chars 0: no limit. The pieces put together give back `content`.
std::vector<std::string_view> cfg_lines(std::string_view content, size_t max_chars);

// True when key=value can be stored as one setting that reads back as `value`: a key that is not
// empty and holds no "=", ";", CR or LF, and a value without ";", CR or LF.
bool cfg_storable(std::string_view key, std::string_view value);

// `content` with the lines holding `key` replaced by `line` (which ends with its line feed) as
// `repeats` says, every other line kept byte for byte. When no line holds the key, `line` is
// appended, after a line feed that ends an unterminated last line. Lines as cfg_lines sees them
// with `max_chars`.
std::string cfg_with_line(std::string_view content, std::string_view key, std::string_view line,
                          KeyMatch match, Repeats repeats, size_t max_chars = 0);

}  // namespace gm_base
