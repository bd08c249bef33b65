// OSC queries and messages.
#include "osc.h"

#include <cstring>

namespace wingsim {
namespace {

size_t padded(size_t len) {
  return (len / 4 + 1) * 4;
}  // len chars + at least one NUL

void put_string(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.resize(out.size() + padded(s.size()) - s.size(), 0);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

}  // namespace

bool osc_parse_query(const uint8_t* p, size_t n, std::string& address) {
  if (n < 2 || p[0] != '/') return false;
  const void* nul = memchr(p, 0, n);
  if (!nul) return false;
  const size_t len = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
  const size_t tag = padded(len);
  if (tag < n) {
    if (p[tag] != ',') return false;
    if (tag + 1 < n && p[tag + 1] != 0) return false;  // arguments: not a query
  }
  address.assign(reinterpret_cast<const char*>(p), len);
  return true;
}

std::vector<uint8_t> osc_message(const std::string& address, const std::vector<OscArg>& args) {
  std::vector<uint8_t> out;
  put_string(out, address);
  std::string tag = ",";
  for (const OscArg& a : args) tag += a.type;
  put_string(out, tag);
  for (const OscArg& a : args) {
    if (a.type == 's') put_string(out, a.s);
    if (a.type == 'i') put32(out, static_cast<uint32_t>(a.i));
    if (a.type == 'f') {
      uint32_t bits;
      std::memcpy(&bits, &a.f, sizeof bits);
      put32(out, bits);
    }
  }
  return out;
}

}  // namespace wingsim
