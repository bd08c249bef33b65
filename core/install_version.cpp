// Version ordering for the install checks.
#include "install_version.h"

#include <cstdint>
#include <tuple>

namespace gm {
namespace {

struct Ver {
  int64_t major = -1, minor = 0, patch = 0;
  bool pre = false;
};

// Decimal digits at p (at least one); the value saturates rather than wrapping.
bool read_number(const char*& p, int64_t& out) {
  if (*p < '0' || *p > '9') return false;
  out = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (out < INT32_MAX) out = out * 10 + (*p - '0');
  }
  return true;
}

Ver parse(const std::string& text) {
  Ver v;
  const char* p = text.c_str();
  if (!read_number(p, v.major) || *p++ != '.' || !read_number(p, v.minor) || *p++ != '.' ||
      !read_number(p, v.patch)) {
    return Ver{};
  }
  v.pre = *p == '-';
  return v;
}

}  // namespace

bool newer_version(const std::string& a, const std::string& b) {
  const Ver x = parse(a), y = parse(b);
  // A release ranks above its pre-releases, so "not a pre-release" is the last, larger key.
  return std::make_tuple(x.major, x.minor, x.patch, !x.pre) >
         std::make_tuple(y.major, y.minor, y.patch, !y.pre);
}

bool version_parses(const std::string& text) {
  return parse(text).major >= 0;
}

}  // namespace gm
