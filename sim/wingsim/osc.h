// The little of OSC the desk speaks on UDP: reading a query (an address without arguments)
// and writing a message with string, integer or float arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wingsim {

struct OscArg {
  char type;  // 's', 'i' or 'f'
  std::string s;
  int32_t i = 0;
  float f = 0;
};

// The address of a query: it starts with "/", ends at a NUL inside the datagram, and any type
// tag that follows holds no arguments (","). False otherwise.
bool osc_parse_query(const uint8_t* p, size_t n, std::string& address);
// The address and a type tag, each NUL-padded to a multiple of 4 (at least one NUL), then the
// arguments (strings padded the same way; numbers 4 bytes big-endian).
std::vector<uint8_t> osc_message(const std::string& address, const std::vector<OscArg>& args);

}  // namespace wingsim
