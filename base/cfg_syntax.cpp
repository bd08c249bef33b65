// The settings-file line syntax.
#include "base/cfg_syntax.h"

#include <strings.h>

namespace gm_base {

std::string_view cfg_value_of(std::string_view text) {
  const size_t end = text.find_first_of(std::string_view("\n\r;\0", 4));
  return text.substr(0, end);
}

bool cfg_holds_key(std::string_view line, std::string_view key, KeyMatch match) {
  if (key.empty() || line.size() <= key.size() || line[key.size()] != '=') return false;
  if (match == KeyMatch::kExact) return line.compare(0, key.size(), key) == 0;
  return strncasecmp(line.data(), key.data(), key.size()) == 0;
}

std::vector<std::string_view> cfg_lines(std::string_view content, size_t max_chars) {
  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < content.size();) {
    const size_t nl = content.find('\n', pos);
    size_t len = (nl == std::string_view::npos ? content.size() : nl + 1) - pos;
    if (max_chars > 0 && len > max_chars) len = max_chars;
    lines.push_back(content.substr(pos, len));
    pos += len;
  }
  return lines;
}

bool cfg_storable(std::string_view key, std::string_view value) {
  return !key.empty() && key.find_first_of("=;\r\n") == std::string_view::npos &&
         value.find_first_of(";\r\n") == std::string_view::npos;
}

std::string cfg_with_line(std::string_view content, std::string_view key, std::string_view line,
                          KeyMatch match, Repeats repeats, size_t max_chars) {
  std::string out;
  out.reserve(content.size() + line.size() + 1);
  bool found = false;
  for (std::string_view cur : cfg_lines(content, max_chars)) {
    if (!cfg_holds_key(cur, key, match)) {
      out.append(cur);
    } else if (!found || repeats == Repeats::kReplaceEvery) {
      out.append(line);
      found = true;
    }
  }
  if (!found) {
    if (!out.empty() && out.back() != '\n') out += '\n';
    out.append(line);
  }
  return out;
}

}  // namespace gm_base
