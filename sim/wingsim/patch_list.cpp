// Parsing of patch lists.
#include "patch_list.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace wingsim {
namespace {

// "a" or "a-b" with 1 <= a <= b <= 64.
bool parse_range(const std::string& s, int& first, int& last) {
  const size_t dash = s.find('-');
  char* end = nullptr;
  first = static_cast<int>(strtol(s.c_str(), &end, 10));
  if (end == s.c_str() || (dash == std::string::npos ? *end != '\0' : *end != '-')) return false;
  last = first;
  if (dash != std::string::npos) {
    const char* b = s.c_str() + dash + 1;
    last = static_cast<int>(strtol(b, &end, 10));
    if (end == b || *end != '\0') return false;
  }
  return first >= 1 && last >= first && last <= 64;
}

bool parse_item(const std::string& item, std::vector<PatchEntry>& out) {
  const size_t eq = item.find('=');
  const size_t colon = item.find(':');
  if (eq == std::string::npos || colon == std::string::npos || colon > eq) return false;
  const std::string group = item.substr(0, colon);
  int first, last;
  if ((group != "MOD" && group != "CRD") ||
      !parse_range(item.substr(colon + 1, eq - colon - 1), first, last))
    return false;
  const std::string src = item.substr(eq + 1);
  const size_t sc = src.find(':');
  const std::string source = src.substr(0, sc);
  if (source.empty()) return false;
  for (char c : source) {
    if (!isupper(static_cast<unsigned char>(c)) && !isdigit(static_cast<unsigned char>(c)))
      return false;
  }
  int in_first = 1, in_last = 1;
  if (sc != std::string::npos && !parse_range(src.substr(sc + 1), in_first, in_last)) return false;
  if (sc == std::string::npos && source != "OFF") return false;
  const bool single = in_first == in_last;
  if (source != "OFF" && !single && in_last - in_first != last - first) return false;
  for (int n = first; n <= last; ++n) {
    const int input = source == "OFF" ? 1 : in_first + (n - first);
    if (input > 64) return false;
    out.push_back(PatchEntry{group, n, source, input});
  }
  return true;
}

}  // namespace

bool parse_patch(const std::string& text, std::vector<PatchEntry>& out, std::string& err) {
  out.clear();
  if (text.empty() || text == "none") return true;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!parse_item(item, out)) {
      err = "The patch item '" + item + "' is not OUT:a-b=SRC:c-d (OUT is MOD or CRD).";
      return false;
    }
  }
  return true;
}

}  // namespace wingsim
