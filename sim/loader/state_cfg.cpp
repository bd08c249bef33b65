// Reading the install state file.
#include "state_cfg.h"

#include <strings.h>

#include <fstream>
#include <iterator>

namespace gm_loader {
namespace {

constexpr size_t kMaxStateBytes = 1 << 20;

bool equal_nocase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The value of `line` when it sets `key`, else false.
bool value_of(std::string_view line, std::string_view key, std::string_view& value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || !equal_nocase(line.substr(0, eq), key)) return false;
  value = line.substr(eq + 1);
  value = value.substr(0, value.find_first_of(";\r\n"));
  return true;
}

}  // namespace

ConsoleState parse_console_state(std::string_view text, std::string_view key) {
  const std::string guest_key = std::string(key) + ".guest";
  ConsoleState state;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::string_view value;
    if (value_of(line, key, value)) {
      state.enabled = !(value.size() >= 3 && strncasecmp(value.data(), "off", 3) == 0);
    } else if (value_of(line, guest_key, value)) {
      state.guest = value == "1";
    }
  }
  return state;
}

ConsoleState read_console_state(const std::string& path, std::string_view key) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return ConsoleState{};
  std::string text;
  text.resize(kMaxStateBytes + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  const size_t got = static_cast<size_t>(in.gcount());
  if (got > kMaxStateBytes) return ConsoleState{};
  text.resize(got);
  return parse_console_state(text, key);
}

}  // namespace gm_loader
