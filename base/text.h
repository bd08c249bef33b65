// Bounded text copy into the fixed-size text fields of the shared layouts and of the module's
// own records: never more than the field holds, always NUL-terminated, the rest zeroed so that
// a field reused for a shorter text keeps nothing of the longer one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace gm_base {

// Copies the C string `src` (null counts as "") into dst[size]: at most size - 1 characters,
// never past a NUL and never more than `max` characters of src, so src need not be terminated
// within its first `max` bytes. Zeroes the rest of the field. Does nothing for a null dst or a
// size of 0.
void copy_text(char* dst, size_t size, const char* src, size_t max = SIZE_MAX);
// The same for a view; a NUL inside `text` ends it.
void copy_text(char* dst, size_t size, std::string_view text);
// The same into a field whose size the compiler knows.
template <size_t N>
void copy_text(char (&dst)[N], std::string_view text) {
  copy_text(dst, N, text);
}

}  // namespace gm_base
