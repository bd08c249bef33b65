// Parsing the stored preamp values of a session.
#include "session.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "options.h"

namespace lv1host {
namespace {

constexpr size_t kMaxSessionBytes = 1 << 20;

bool parse_phantom(const std::string& text, int& out) {
  if (text != "on" && text != "off" && text != "1" && text != "0") return false;
  out = text == "on" || text == "1" ? 1 : 0;
  return true;
}

// Adds one channel's values; phantom may be empty (off).
bool add_entry(Session& s, const std::string& ch_text, const std::string& db_text,
               const std::string& phantom_text, std::string& err) {
  long ch;
  double db;
  int phantom = 0;
  if (!parse_int(ch_text, 0, kStrips - 1, ch)) {
    err = "'" + ch_text + "' is not a channel 0..63.";
    return false;
  }
  if (!parse_db(db_text, db)) {
    err = "'" + db_text + "' is not a gain in dB.";
    return false;
  }
  if (!phantom_text.empty() && !parse_phantom(phantom_text, phantom)) {
    err = "'" + phantom_text + "' is not on or off.";
    return false;
  }
  if (s.present[ch]) {
    err = "Channel " + ch_text + " is given twice.";
    return false;
  }
  s.present[ch] = 1;
  s.gain[ch] = db;
  s.phantom[ch] = phantom;
  return true;
}

bool check_not_empty(const Session& s, std::string& err) {
  for (int p : s.present) {
    if (p) return true;
  }
  err = "The session stores no preamp values.";
  return false;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!text.empty() && text.back() == sep) parts.push_back("");
  return parts;
}

}  // namespace

bool parse_db(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(out);
}

bool parse_session_tokens(const std::vector<std::string>& tokens, Session& out, std::string& err) {
  out = Session{};
  for (const std::string& token : tokens) {
    const std::vector<std::string> parts = split(token, ':');
    if (parts.size() < 2 || parts.size() > 3 || (parts.size() == 3 && parts[2].empty())) {
      err = "'" + token + "' is not <ch>:<dB>[:on|off].";
      return false;
    }
    if (!add_entry(out, parts[0], parts[1], parts.size() == 3 ? parts[2] : "", err)) return false;
  }
  return check_not_empty(out, err);
}

bool read_session_file(const std::string& path, Session& out, std::string& err) {
  out = Session{};
  std::ifstream in(path);
  if (!in) {
    err = "Cannot read the session file " + path + ".";
    return false;
  }
  std::string line;
  size_t total = 0;
  for (int n = 1; std::getline(in, line); ++n) {
    total += line.size() + 1;
    if (total > kMaxSessionBytes) {
      err = "The session file " + path + " is larger than 1 MB.";
      return false;
    }
    line = line.substr(0, line.find('#'));
    std::istringstream fields(line);
    std::string ch, db, phantom, more;
    if (!(fields >> ch)) continue;
    fields >> db >> phantom >> more;
    const std::string where = path + " line " + std::to_string(n) + ": ";
    if (db.empty() || !more.empty()) {
      err = where + "'" + line + "' is not <ch> <dB> [on|off].";
      return false;
    }
    if (!add_entry(out, ch, db, phantom, err)) {
      err = where + err;
      return false;
    }
  }
  return check_not_empty(out, err);
}

}  // namespace lv1host
