// Control commands.
#include "commands.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "log.h"
#include "sim.h"

namespace wingsim {
namespace {

constexpr size_t kMaxExpanded = 4096;

struct Answer {
  std::string data;
  void line(const std::string& s) { data += s + "\n"; }
  std::string ok() { return data + "ok\n"; }
  std::string err(const std::string& why) { return data + "err " + why + "\n"; }
};

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// Splits "word rest of line".
std::pair<std::string, std::string> head(const std::string& s) {
  const std::string t = trim(s);
  const size_t sp = t.find_first_of(" \t");
  if (sp == std::string::npos) return {t, ""};
  return {t.substr(0, sp), trim(t.substr(sp))};
}

bool parse_int(const std::string& s, int& v) {
  char* end = nullptr;
  const long x = strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || x < INT32_MIN || x > INT32_MAX) return false;
  v = static_cast<int>(x);
  return true;
}

// "7" or "1-8".
bool parse_range(const std::string& s, int& first, int& last) {
  const size_t dash = s.find('-', 1);
  if (dash == std::string::npos) return parse_int(s, first) && parse_int(s, last);
  return parse_int(s.substr(0, dash), first) && parse_int(s.substr(dash + 1), last) &&
         first <= last;
}

bool is_range(const std::string& part) {
  const size_t dash = part.find('-');
  int a, b;
  return dash != std::string::npos && dash > 0 && parse_range(part, a, b) && a >= 0;
}

// A path whose index parts may be ranges ("/io/in/A/1-16/$ha") as the paths it names.
std::vector<std::string> expand(const std::string& path) {
  std::vector<std::string> out = {""};
  std::istringstream in(path);
  std::string part;
  while (std::getline(in, part, '/')) {
    if (part.empty()) continue;
    int first = 0, last = 0;
    if (!is_range(part) || !parse_range(part, first, last)) first = last = -1;
    std::vector<std::string> next;
    for (const std::string& p : out) {
      if (first < 0) next.push_back(p + "/" + part);
      for (int i = first; i >= 0 && i <= last && next.size() <= kMaxExpanded; ++i) {
        next.push_back(p + "/" + std::to_string(i));
      }
    }
    out.swap(next);
  }
  if (out.size() == 1 && out[0].empty()) out[0] = "/";
  return out;
}

std::string unquote(const std::string& s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

std::string cmd_get(Sim& sim, const std::string& path) {
  Answer a;
  const NodeTree& tree = sim.desk().tree();
  const int node = tree.find(path);
  if (node == NodeTree::kNone) return a.err("no node " + path);
  if (tree.at(node).is_leaf()) {
    a.line(Desk::value_text(tree.at(node)));
    return a.ok();
  }
  for (int c : tree.at(node).children) {
    const Node& n = tree.at(c);
    a.line(n.is_leaf() ? n.name + " " + Desk::value_text(n) : n.name + "/");
  }
  return a.ok();
}

std::string cmd_hash(Sim& sim, const std::string& path) {
  Answer a;
  const int node = sim.desk().tree().find(path);
  if (node == NodeTree::kNone) return a.err("no node " + path);
  char hex[16];
  snprintf(hex, sizeof hex, "%08X", sim.desk().tree().at(node).hash);
  a.line(hex);
  return a.ok();
}

std::string cmd_set(Sim& sim, const std::string& args) {
  Answer a;
  const auto [path, raw] = head(args);
  const std::string text = unquote(raw);
  const NodeTree& tree = sim.desk().tree();
  std::vector<int> leaves;
  std::vector<Value> values;
  for (const std::string& p : expand(path)) {
    const int node = tree.find(p);
    if (node == NodeTree::kNone || !tree.at(node).is_leaf()) return a.err("no leaf " + p);
    Value v;
    if (!Desk::parse_value(tree.at(node), text, v)) return a.err("not a number: " + text);
    leaves.push_back(node);
    values.push_back(v);
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    if (!sim.desk_set(leaves[i], values[i])) return a.err("the value does not suit " + path);
    logf("desk set %s %s", tree.path_of(leaves[i]).c_str(), text.c_str());
  }
  return a.ok();
}

std::string cmd_patch(Sim& sim, const std::string& text) {
  Answer a;
  std::vector<PatchEntry> entries;
  std::string err;
  if (!parse_patch(unquote(text), entries, err) || !sim.repatch(entries, err)) return a.err(err);
  logf("desk patch %s", text.c_str());
  return a.ok();
}

std::string cmd_level(Sim& sim, const std::string& args) {
  Answer a;
  std::istringstream in(args);
  std::string grp, range, db;
  in >> grp >> range >> db;
  int first, last;
  char* end = nullptr;
  const double v = strtod(db.c_str(), &end);
  if (db.empty() || *end != '\0' || !parse_range(range, first, last) ||
      !sim.meter().set_level(grp, first, last, v)) {
    return a.err("usage: level <grp> <n|a-b> <dB> with a meter source and inputs within it");
  }
  return a.ok();
}

bool on_off(const std::string& s, bool& v) {
  if (s != "on" && s != "off") return false;
  v = s == "on";
  return true;
}

std::string cmd_fault(Sim& sim, const std::string& args) {
  Answer a;
  const auto [what, arg] = head(args);
  NativeServer& server = sim.server();
  ServerFaults& f = server.faults();
  bool flag = false;
  int n = 0;
  std::string err;
  if (what == "refuse-tcp" && on_off(arg, flag)) {
    server.refuse(flag, err);
    if (!err.empty()) return a.err(err);
  } else if (what == "drop" && arg.empty()) {
    server.drop_all();
  } else if (what == "silent" && on_off(arg, flag)) {
    f.silent = flag;
  } else if (what == "delay" && parse_int(arg, n) && n >= 0) {
    f.delay_ms = n;
  } else if (what == "garbage" && parse_int(arg, n) && n >= 0 && n <= (1 << 20)) {
    server.send_garbage(static_cast<size_t>(n));
  } else if (what == "split" && on_off(arg, flag)) {
    f.split = flag;
  } else if (what == "list-without" && !arg.empty() && arg.find(' ') == std::string::npos) {
    f.list_without = arg == "off" ? "" : arg;
  } else if (what == "meter-size" && (arg == "off" || (parse_int(arg, n) && n > 0 && n <= 65507))) {
    sim.meter().set_frame_size(arg == "off" ? 0 : n);
  } else {
    return a.err("unknown fault: " + args + " (see help)");
  }
  logf("fault %s", args.c_str());
  return a.ok();
}

std::string cmd_identity(Sim& sim, const std::string& args) {
  Answer a;
  Identity next = sim.identity();
  std::string* field = nullptr;
  std::istringstream in(args);
  std::string word;
  while (in >> word) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos) {
      if (!field) return a.err("usage: identity name=.. model=.. serial=.. firmware=..");
      *field += " " + word;
      continue;
    }
    const std::string key = word.substr(0, eq);
    field = key == "name"       ? &next.name
            : key == "model"    ? &next.model
            : key == "serial"   ? &next.serial
            : key == "firmware" ? &next.firmware
                                : nullptr;
    if (!field) return a.err("unknown identity field " + key);
    *field = word.substr(eq + 1);
  }
  sim.identity() = next;
  logf("identity %s", discovery_line(next).c_str());
  return a.ok();
}

std::string cmd_simple(Sim& sim, const std::string& cmd, const std::string& args) {
  Answer a;
  if (cmd == "help") {
    std::istringstream in(commands_text());
    for (std::string l; std::getline(in, l);) a.line(l);
  } else if (cmd == "sets") {
    for (const std::string& s : sim.server().sets()) a.line(s);
  } else if (cmd == "clear-sets") {
    sim.server().clear_sets();
  } else if (cmd == "discovery") {
    a.line(std::to_string(sim.udp().discovery_questions()));
  } else if (cmd == "clients") {
    a.line(std::to_string(sim.server().control_clients()));
  } else if (cmd == "move") {
    std::string err;
    if (!sim.move(args, err)) return a.err(err);
  } else if (cmd == "quit") {
    sim.quit();
  } else {
    return a.err("unknown command " + cmd + " (try help)");
  }
  return a.ok();
}

}  // namespace

std::string run_command(Sim& sim, const std::string& line) {
  const auto [cmd, args] = head(line);
  if (cmd.empty()) return "";
  if (cmd == "get") return cmd_get(sim, args);
  if (cmd == "hash") return cmd_hash(sim, args);
  if (cmd == "set") return cmd_set(sim, args);
  if (cmd == "patch") return cmd_patch(sim, args);
  if (cmd == "level") return cmd_level(sim, args);
  if (cmd == "fault") return cmd_fault(sim, args);
  if (cmd == "identity") return cmd_identity(sim, args);
  return cmd_simple(sim, cmd, args);
}

}  // namespace wingsim
