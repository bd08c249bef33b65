// Bounded text copy.
#include "base/text.h"

#include <cstring>

namespace gm_base {

void copy_text(char* dst, size_t size, const char* src, size_t max) {
  if (!dst || size == 0) return;
  const size_t n = src ? strnlen(src, max < size - 1 ? max : size - 1) : 0;
  if (n) std::memcpy(dst, src, n);
  std::memset(dst + n, 0, size - n);
}

void copy_text(char* dst, size_t size, std::string_view text) {
  const size_t nul = text.find('\0');
  copy_text(dst, size, text.data(), nul == std::string_view::npos ? text.size() : nul);
}

}  // namespace gm_base
