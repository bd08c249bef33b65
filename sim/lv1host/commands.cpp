// Parsing and running the commands.
#include "commands.h"

#include <sstream>

#include "options.h"
#include "session.h"

namespace lv1host {
namespace {

bool type_arg(const std::string& text, int& type, std::string& err) {
  type = parse_type(text);
  if (type < 0) err = "'" + text + "' is not a console type (wing, x32, 0 or 1).";
  return type >= 0;
}

bool channel_arg(const std::string& text, int& ch, std::string& err) {
  long n;
  if (!parse_int(text, 0, kStrips - 1, n)) {
    err = "'" + text + "' is not a channel 0..63.";
    return false;
  }
  ch = static_cast<int>(n);
  return true;
}

bool count_is(const std::vector<std::string>& a, size_t n, std::string& err) {
  if (a.size() == n) return true;
  err = "'" + a[0] + "' takes " + std::to_string(n - 1) + " arguments (see help).";
  return false;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

}  // namespace

Answer Commands::run(const std::string& line) {
  const Args a = words(line);
  Answer answer;
  std::vector<std::string> data;
  std::string err;
  const bool ok = a.empty() || dispatch(a, answer, data, err);
  if (answer.quit) quit();
  for (const std::string& d : data) answer.text += d + "\n";
  answer.text += ok ? "ok\n" : "err " + err + "\n";
  return answer;
}

bool Commands::dispatch(const Args& a, Answer& answer, std::vector<std::string>& data,
                        std::string& err) {
  const std::string& c = a[0];
  if (c == "gain") return gain(a, err);
  if (c == "phantom") return phantom(a, err);
  if (c == "session") return session(a, err);
  if (c == "card" || c == "kind" || c == "extra") return rack(a, err);
  if (c == "share" || c == "own") return share(a, err);
  if (c == "requery") return requery(a, err);
  if (c == "strips") return strips(a, data, err);
  if (c == "rack") {
    data = lv1_.rack_lines();
  } else if (c == "help") {
    answer.text = commands_text();
  } else if (c == "quit") {
    answer.quit = true;
  } else {
    err = "Unknown command '" + c + "' (see help).";
    return false;
  }
  return true;
}

bool Commands::gain(const Args& a, std::string& err) {
  int type, ch;
  double db;
  if (!count_is(a, 4, err) || !type_arg(a[1], type, err) || !channel_arg(a[2], ch, err)) {
    return false;
  }
  if (!parse_db(a[3], db)) {
    err = "'" + a[3] + "' is not a gain in dB.";
    return false;
  }
  return lv1_.turn_gain(type, ch, db, err);
}

bool Commands::phantom(const Args& a, std::string& err) {
  int type, ch;
  if (!count_is(a, 4, err) || !type_arg(a[1], type, err) || !channel_arg(a[2], ch, err)) {
    return false;
  }
  if (a[3] != "on" && a[3] != "off") {
    err = "'" + a[3] + "' is not on or off.";
    return false;
  }
  return lv1_.switch_phantom(type, ch, a[3] == "on", err);
}

bool Commands::session(const Args& a, std::string& err) {
  int type;
  if (a.size() < 3) {
    err = "'session' takes a type and a file or <ch>:<dB>[:on|off] values (see help).";
    return false;
  }
  if (!type_arg(a[1], type, err)) return false;
  Session s;
  const Args values(a.begin() + 2, a.end());
  const bool from_file = values.size() == 1 && values[0].find(':') == std::string::npos;
  const bool parsed =
      from_file ? read_session_file(values[0], s, err) : parse_session_tokens(values, s, err);
  return parsed && lv1_.open_session(type, s, err);
}

bool Commands::rack(const Args& a, std::string& err) {
  int type;
  long n = 0;
  if (!count_is(a, 3, err) || !type_arg(a[1], type, err)) return false;
  if (a[0] == "card") {
    if (a[2] != "in" && a[2] != "out") {
      err = "'" + a[2] + "' is not in or out.";
      return false;
    }
    lv1_.set_card(type, a[2] == "in");
    return db_.write(lv1_.rack_setup(), err);
  }
  if (!parse_int(a[2], 0, UINT32_MAX, n)) {
    err = "'" + a[2] + "' is not a number 0..4294967295.";
    return false;
  }
  if (a[0] == "kind") {
    lv1_.set_kind(type, static_cast<uint32_t>(n));
  } else {
    lv1_.set_extra(type, static_cast<uint32_t>(n));
  }
  return db_.write(lv1_.rack_setup(), err);
}

bool Commands::share(const Args& a, std::string& err) {
  int type;
  const bool sharing = a[0] == "share";
  if (!count_is(a, sharing ? 3 : 2, err) || !type_arg(a[1], type, err)) return false;
  db_.set_owner(type, sharing ? a[2] : "");
  return db_.write(lv1_.rack_setup(), err);
}

bool Commands::requery(const Args& a, std::string& err) {
  int type;
  return count_is(a, 2, err) && type_arg(a[1], type, err) && lv1_.requery(type, err);
}

bool Commands::strips(const Args& a, std::vector<std::string>& out, std::string& err) {
  int type = 0, from = 0, to = kStrips - 1;
  if (a.size() != 1 && a.size() != 2 && a.size() != 4) {
    err = "'strips' takes [type] [from to] (see help).";
    return false;
  }
  if (a.size() >= 2 && !type_arg(a[1], type, err)) return false;
  if (a.size() == 4 && (!channel_arg(a[2], from, err) || !channel_arg(a[3], to, err))) {
    return false;
  }
  if (from > to) {
    err = "The first channel comes after the last.";
    return false;
  }
  out = lv1_.strip_lines(type, from, to);
  return true;
}

}  // namespace lv1host
