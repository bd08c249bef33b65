// Fuzz target: the first argument of an OSC answer as a desk could send it, and the query
// builder over arbitrary paths and buffer sizes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "net_util.h"

namespace {

using fuzz::check;

void check_first_arg(const char* msg, size_t len, size_t str_size) {
  std::vector<char> str(str_size + 1, '#');
  uint32_t word = 0;
  const char type = gm::osc_first_arg(msg, len, str.data(), str_size, &word);
  check(type == 0 || type == 's' || type == 'i' || type == 'f');
  check(str_size == 0 || memchr(str.data(), 0, str_size));
  check(type == 's' || str_size == 0 || str[0] == '\0');
  check(str[str_size] == '#');
}

void check_query(const uint8_t* data, size_t size, size_t room) {
  const std::vector<char> path(data, data + size);
  std::vector<char> z(path);
  z.push_back('\0');
  std::vector<char> out(room + 1, '#');
  const size_t n = gm::osc_query_msg(out.data(), room, z.data());
  check(out[room] == '#');
  if (n == 0) return;
  const size_t len = strlen(z.data());
  check(n <= room && n % 4 == 0 && n == (len & ~size_t{3}) + 8);
  check(memcmp(out.data(), z.data(), len) == 0 && out[n - 4] == ',');
  // A query carries no argument.
  check(gm::osc_first_arg(out.data(), n, nullptr, 0, nullptr) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const size_t str_size = size > 0 ? data[0] % 70 : 0;
  // An exact-size heap copy, so that any read past the message is caught.
  std::vector<char> msg(data, data + size);
  check_first_arg(msg.data(), msg.size(), str_size);
  check_first_arg(msg.data(), msg.size(), 0);
  check_query(data, size, size > 1 ? data[1] % 80 : 0);
  return 0;
}
