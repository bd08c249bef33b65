// The dashboard's small text rules: model names, preamp and remote-input runs, the empty-port
// sentence, the severity order and the typed-address check.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model.h"

namespace gm {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool has(const std::string& s, const char* part) {
  return s.find(part) != std::string::npos;
}

bool starts(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

std::string group_label(const std::string& g) {
  if (g == "A" || g == "B" || g == "C") return "AES50 " + g;
  if (g == "SC") return "StageConnect";
  if (g == "LCL") return "Local";
  return g;
}

std::string run_text(uint32_t first, uint32_t last) {
  char b[32];
  if (first == last) {
    snprintf(b, sizeof b, "%u", first);
  } else {
    snprintf(b, sizeof b, "%u–%u", first, last);
  }
  return b;
}

}  // namespace

int worst_rank(int state) {
  static const int kRank[17] = {0, 2, 4, 6, 5, 9, 10, 11, 12, 13, 14, 16, 8, 1, 15, 3, 7};
  return state >= 0 && state <= 16 ? kRank[state] : 99;
}

std::string pretty_model(int type, const std::string& model) {
  const std::string m = lower(model);
  if (type == 0) {
    if (has(m, "rack")) return "WING Rack";
    if (has(m, "compact")) return "WING Compact";
    return "WING";
  }
  const std::string base = starts(m, "m32") ? "Midas M32" : "Behringer X32";
  if (has(m, "rack")) return base + " Rack";
  if (has(m, "compact")) return base + " Compact";
  if (has(m, "producer")) return base + " Producer";
  if (m == "m32c" || m == "x32c") return base + "C";
  if (starts(m, "m32r")) return "Midas M32R";
  return base;
}

std::string preamp_summary(const ConStatus& st, int32_t* count) {
  struct Run {
    std::string group;
    uint32_t first, last;
  };
  std::vector<Run> runs;
  int32_t n = 0;
  for (int i = 0; i < 64; ++i) {
    const std::string g(st.strip_group[i], strnlen(st.strip_group[i], sizeof st.strip_group[i]));
    const uint32_t num = st.strip_number[i];
    if (!st.strip_local[i] || g.empty() || num < 1) continue;
    ++n;
    if (!runs.empty() && runs.back().group == g && runs.back().last + 1 == num) {
      runs.back().last = num;
    } else {
      runs.push_back({g, num, num});
    }
  }
  if (count) *count = n;
  std::string out;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i > 0 && runs[i].group == runs[i - 1].group) {
      out += ", " + run_text(runs[i].first, runs[i].last);
      continue;
    }
    if (!out.empty()) out += " · ";
    out += group_label(runs[i].group) + " " + run_text(runs[i].first, runs[i].last);
  }
  return out;
}

std::string remote_inputs(const ConStatus& st) {
  std::vector<uint32_t> nums;
  for (int i = 0; i < 64; ++i) {
    if (!st.strip_local[i] && strncmp(st.strip_group[i], "LCL", sizeof st.strip_group[i]) == 0 &&
        st.strip_number[i] > 0) {
      nums.push_back(st.strip_number[i]);
    }
  }
  std::sort(nums.begin(), nums.end());
  nums.erase(std::unique(nums.begin(), nums.end()), nums.end());
  std::string out;
  for (size_t i = 0; i < nums.size();) {
    size_t j = i;
    while (j + 1 < nums.size() && nums[j + 1] == nums[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += run_text(nums[i], nums[j]);
    i = j + 1;
  }
  return out;
}

std::string empty_port_note(const ConStatus& st, const std::string& console_name,
                            const std::string& card_name) {
  const uint32_t records = std::min<uint32_t>(st.port_count, 4);
  std::string ports;
  bool first_aes = false;
  uint32_t total = 0;
  for (uint32_t i = 0; i < records; ++i) {
    const ConPort& p = st.ports[i];
    if (p.flag != 0 || p.strips == 0) continue;
    const std::string port(p.port, strnlen(p.port, sizeof p.port));
    std::string label = port == "SC" ? "StageConnect" : "AES50 " + port;
    if (ports.empty()) {
      first_aes = starts(label, "AES50 ");
      ports = label;
    } else {
      if (first_aes && starts(label, "AES50 ")) label.erase(0, 6);
      ports += " or " + label;
    }
    total += p.strips;
  }
  if (total == 0) return "";
  std::string con = console_name;
  if (starts(con, "Midas ")) {
    con.erase(0, 6);
  } else if (starts(con, "Behringer ")) {
    con.erase(0, 10);
  }
  char b[360];
  if (total == 1) {
    snprintf(b, sizeof b,
             "No gain knob on 1 strip: nothing is connected to the %s's %s, where the %s takes it "
             "from. Connect the stagebox and the knob appears by itself.",
             con.c_str(), ports.c_str(), card_name.c_str());
  } else {
    snprintf(b, sizeof b,
             "No gain knobs on %u strips: nothing is connected to the %s's %s, where the %s takes "
             "them from. Connect the stagebox and the knobs appear by themselves.",
             total, con.c_str(), ports.c_str(), card_name.c_str());
  }
  return b;
}

bool ip_text_ok(const std::string& text, std::string* address, std::string* error) {
  size_t a = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t\r\n");
  const std::string t = a == std::string::npos || e == std::string::npos || e < a
                            ? std::string()
                            : text.substr(a, e - a + 1);
  if (t.empty()) {
    *error = "Type the console's address, like 192.168.1.20.";
    return false;
  }
  int part[4] = {0, 0, 0, 0};
  size_t i = 0;
  bool ok = true;
  for (int f = 0; f < 4 && ok; ++f) {
    if (f > 0) {
      if (i >= t.size() || t[i] != '.') ok = false;
      ++i;
    }
    size_t digits = 0;
    while (ok && i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && digits < 4) {
      part[f] = part[f] * 10 + (t[i] - '0');
      ++i;
      ++digits;
    }
    if (digits < 1 || digits > 3 || part[f] > 255) ok = false;
  }
  if (!ok || i != t.size()) {
    *error = "That isn't an IP address. Type four numbers with dots, like 192.168.1.20.";
    return false;
  }
  if (part[0] == 0 || part[0] >= 224) {
    *error = "No console can have that address. Type the one on its Setup ▸ Network page.";
    return false;
  }
  char b[48];
  snprintf(b, sizeof b, "%d.%d.%d.%d", part[0], part[1], part[2], part[3]);
  *address = b;
  error->clear();
  return true;
}

}  // namespace gm
