// Value changes and the stereo-pair rules of the desk.
#include "desk.h"

#include <strings.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace wingsim {
namespace {

bool is_number(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

double snap(const Node& n, double x) {
  if (!n.has_range) return x;
  x = std::fmin(std::fmax(x, n.min), n.max);
  if (n.steps >= 2) {
    const double step = (n.max - n.min) / (n.steps - 1);
    x = n.min + std::round((x - n.min) / step) * step;
  }
  return x;
}

}  // namespace

bool Desk::network_locked() const {
  const int id = tree_.find("/$syscfg/tcplock");
  return id != NodeTree::kNone && tree_.at(id).num != 0;
}

bool Desk::assign(int leaf, const Value& v) {
  Node& n = tree_.at(leaf);
  switch (n.kind) {
    case Kind::kFloat:
      if (v.is_text || !std::isfinite(v.num)) return false;
      n.num = static_cast<float>(snap(n, v.num));
      return true;
    case Kind::kInt:
      if (v.is_text || !std::isfinite(v.num)) return false;
      n.num = snap(n, std::round(v.num));
      return true;
    case Kind::kString:
      if (!v.is_text) return false;
      n.text = v.text.substr(0, kMaxText);
      return true;
    case Kind::kEnum:
      if (!v.is_text) return false;
      for (const std::string& item : n.items) {
        if (strcasecmp(item.c_str(), v.text.c_str()) == 0) {
          n.text = item;
          return true;
        }
      }
      return false;
    case Kind::kNode:
      return false;
  }
  return false;
}

int Desk::input_of(int leaf) const {
  const int input = tree_.at(leaf).parent;
  if (input <= NodeTree::kRoot || !is_number(tree_.at(input).name)) return NodeTree::kNone;
  const int group = tree_.at(input).parent;
  const int in = group > NodeTree::kRoot ? tree_.at(group).parent : NodeTree::kNone;
  if (in <= NodeTree::kRoot || tree_.at(in).name != "in") return NodeTree::kNone;
  const int io = tree_.at(in).parent;
  if (io <= NodeTree::kRoot || tree_.at(io).name != "io" || tree_.at(io).parent != NodeTree::kRoot)
    return NodeTree::kNone;
  return input;
}

int Desk::partner_leaf(int input, const std::string& leaf) const {
  const int n = atoi(tree_.at(input).name.c_str());
  const int other = tree_.child(tree_.at(input).parent, std::to_string(n % 2 ? n + 1 : n - 1));
  return other == NodeTree::kNone ? other : tree_.child(other, leaf);
}

bool Desk::linked(int input) const {
  const int mode = tree_.child(input, "mode");
  if (mode == NodeTree::kNone) return false;
  const std::string& m = tree_.at(mode).text;
  return m == "ST" || m == "M/S";
}

std::vector<int> Desk::apply_mode(int leaf, int input, const Value& v) {
  const bool was_linked = linked(input);
  if (!assign(leaf, v)) return {};
  const int other = partner_leaf(input, "mode");
  if (other == NodeTree::kNone || (!linked(input) && !was_linked)) return {leaf};
  assign(other, Value{true, 0, tree_.at(leaf).text});
  return {leaf, other};
}

std::vector<int> Desk::apply(int leaf, const Value& v) {
  const int input = input_of(leaf);
  const std::string& name = tree_.at(leaf).name;
  if (input != NodeTree::kNone && name == "mode") return apply_mode(leaf, input, v);
  if (input != NodeTree::kNone && linked(input) && (name == "g" || name == "vph")) {
    const int other = partner_leaf(input, name);
    const bool even = atoi(tree_.at(input).name.c_str()) % 2 == 0;
    if (other != NodeTree::kNone && name == "g" && even) {
      return assign(other, v) ? std::vector<int>{other} : std::vector<int>{};
    }
    if (other != NodeTree::kNone && name == "vph") {
      if (!assign(leaf, v)) return {};
      assign(other, v);
      return {leaf, other};
    }
  }
  return assign(leaf, v) ? std::vector<int>{leaf} : std::vector<int>{};
}

bool Desk::parse_value(const Node& leaf, const std::string& text, Value& out) {
  out = Value{};
  if (leaf.kind == Kind::kString || leaf.kind == Kind::kEnum) {
    out.is_text = true;
    out.text = text;
    return true;
  }
  if (strcasecmp(text.c_str(), "on") == 0 || strcasecmp(text.c_str(), "off") == 0) {
    out.num = strcasecmp(text.c_str(), "on") == 0 ? 1 : 0;
    return true;
  }
  char* end = nullptr;
  out.num = strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && std::isfinite(out.num);
}

std::string Desk::value_text(const Node& leaf) {
  if (leaf.kind == Kind::kString || leaf.kind == Kind::kEnum) return leaf.text;
  if (leaf.kind == Kind::kInt) return std::to_string(static_cast<long long>(leaf.num));
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(leaf.num));
  return std::string(buf, r.ptr);
}

}  // namespace wingsim
