// Encoding of the desk's replies and decoding of client requests.
#include "wire.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace wingsim {
namespace {

void put32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void put_f32(Bytes& out, float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  put32(out, bits);
}

void put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void put_text(Bytes& out, const std::string& s) {
  const size_t n = s.size() < 255 ? s.size() : 255;
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), s.begin(), s.begin() + static_cast<long>(n));
}

void encode_int(gm::WbinBuf& b, long long v) {
  if (v >= 0 && v < 0x40) {
    b.raw(static_cast<uint8_t>(v));
  } else if (v >= INT16_MIN && v <= INT16_MAX) {
    b.raw(gm::kWbinInt16);
    b.escaped(static_cast<uint8_t>(v >> 8));
    b.escaped(static_cast<uint8_t>(v));
  } else {
    b.raw(gm::kWbinInt32);
    for (int shift = 24; shift >= 0; shift -= 8) b.escaped(static_cast<uint8_t>(v >> shift));
  }
}

void encode_text(gm::WbinBuf& b, const std::string& s) {
  if (s.size() <= 64) {
    b.str(s.c_str());
    return;
  }
  const size_t n = s.size() < 256 ? s.size() : 256;
  b.raw(gm::kWbinLongStr);
  b.escaped(static_cast<uint8_t>(n - 1));
  for (size_t i = 0; i < n; ++i) b.escaped(static_cast<uint8_t>(s[i]));
}

std::string long_name(const Node& n) {
  static const char* const kNames[][2] = {
      {"g", "Gain"},    {"vph", "Phantom power"}, {"mode", "Mode"},      {"mute", "Mute"},
      {"name", "Name"}, {"grp", "Source group"},  {"in", "Source input"}};
  if (!n.long_name.empty()) return n.long_name;
  for (const auto& k : kNames) {
    if (n.name == k[0]) return k[1];
  }
  return n.name;
}

// The node types and units of the flags word (type in bits 4-7, unit in bits 0-3).
enum Type : uint16_t { kTypeNode = 0, kTypeLinear = 1, kTypeInt = 4, kTypeEnum = 5, kTypeText = 7 };

uint16_t flags_of(const Node& n) {
  static const char* const kUnits[] = {"", "dB", "%", "ms", "Hz", "m", "s", "oct"};
  uint16_t unit = 0;
  for (uint16_t u = 0; u < 8; ++u) {
    if (n.unit == kUnits[u]) unit = u;
  }
  uint16_t type = kTypeNode;
  switch (n.kind) {
    case Kind::kFloat:
      type = kTypeLinear;
      break;
    case Kind::kInt:
      type = kTypeInt;
      break;
    case Kind::kString:
      type = kTypeText;
      break;
    case Kind::kEnum:
      type = kTypeEnum;
      break;
    case Kind::kNode:
      break;
  }
  return static_cast<uint16_t>(type << 4 | unit);
}

// A numbered node's index is its number; named nodes have none (0).
uint32_t index_of(const Node& n) {
  if (n.name.empty() || n.name.size() > 5 ||
      n.name.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return static_cast<uint32_t>(std::stoul(n.name));
}

// Parent hash, hash, index, name, long name, flags, then what the type needs: a number's range
// (float: min, max, count of values; integer: min, max), an enumeration's items (each with its
// long text), a text's longest length. A node has nothing after its flags.
void append_definition_body(Bytes& d, const NodeTree& tree, int node) {
  const Node& n = tree.at(node);
  put32(d, node == NodeTree::kRoot ? 0 : tree.at(n.parent).hash);
  put32(d, n.hash);
  put16(d, index_of(n));
  put_text(d, n.name);
  put_text(d, long_name(n));
  put16(d, flags_of(n));
  switch (n.kind) {
    case Kind::kFloat:
      put_f32(d, static_cast<float>(n.min));
      put_f32(d, static_cast<float>(n.max));
      put32(d, n.steps);
      break;
    case Kind::kInt:
      put32(d, static_cast<uint32_t>(static_cast<int32_t>(std::llround(n.min))));
      put32(d, static_cast<uint32_t>(static_cast<int32_t>(std::llround(n.max))));
      break;
    case Kind::kEnum:
      put16(d, static_cast<uint32_t>(n.items.size()));
      for (const std::string& item : n.items) {
        put_text(d, item);
        put_text(d, item);
      }
      break;
    case Kind::kString:
      put16(d, static_cast<uint32_t>(kMaxText));
      break;
    case Kind::kNode:
      break;
  }
}

std::string number_text(double v, bool is_float) {
  char buf[32];
  const auto r = is_float ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                          : std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v));
  return std::string(buf, r.ptr);
}

}  // namespace

void append_escaped(Bytes& out, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == gm::kWbinEscape) out.push_back(0xDE);
  }
}

void append_channel(Bytes& out) {
  out.push_back(gm::kWbinEscape);
  out.push_back(0xD1);
}

void append_record(Bytes& out, const Node& leaf) {
  gm::WbinBuf b;
  b.raw(gm::kWbinHashRec);
  for (int shift = 24; shift >= 0; shift -= 8) b.escaped(static_cast<uint8_t>(leaf.hash >> shift));
  if (leaf.kind == Kind::kFloat) b.f32(static_cast<float>(leaf.num));
  if (leaf.kind == Kind::kInt) encode_int(b, std::llround(leaf.num));
  if (leaf.kind == Kind::kString || leaf.kind == Kind::kEnum) encode_text(b, leaf.text);
  out.insert(out.end(), b.b, b.b + b.n);
}

void append_list(Bytes& out, const NodeTree& tree, int node, const std::string& without) {
  for (int c : tree.at(node).children) {
    const Node& leaf = tree.at(c);
    if (leaf.is_leaf() && (without.empty() || leaf.name != without)) append_record(out, leaf);
  }
  out.push_back(gm::kWbinEndList);
}

void append_definition(Bytes& out, const NodeTree& tree, int node) {
  Bytes d;
  append_definition_body(d, tree, node);
  const uint8_t head[3] = {gm::kWbinEscape, static_cast<uint8_t>(d.size() >> 8),
                           static_cast<uint8_t>(d.size())};
  append_escaped(out, head, sizeof head);
  append_escaped(out, d.data(), d.size());
  out.push_back(gm::kWbinEndList);
}

int resolve(const NodeTree& tree, const gm::WbinRequest& request) {
  int node = NodeTree::kRoot;
  for (int i = 0; i < request.depth && node != NodeTree::kNone; ++i) {
    const gm::WbinPathToken& t = request.path[i];
    node = t.is_index ? tree.child_at(node, t.index) : tree.child(node, t.name);
  }
  return node;
}

std::string request_path(const gm::WbinRequest& request) {
  std::string path;
  for (int i = 0; i < request.depth; ++i) {
    const gm::WbinPathToken& t = request.path[i];
    path += "/";
    path += t.is_index ? std::to_string(t.index) : std::string(t.name);
  }
  return path.empty() ? "/" : path;
}

void decode_value(const uint8_t* token, int len, Value& value, std::string& text) {
  value = Value{};
  char s[260];
  if (gm::wbin_string_of(token, len, s, sizeof s)) {
    value.is_text = true;
    value.text = s;
    text = s;
    return;
  }
  double v = 0;
  bool flag = false;
  if (!gm::wbin_value_of(token, len, &v, &flag)) v = NAN;
  value.num = v;
  text = std::isnan(v) ? "?" : number_text(v, token[0] == gm::kWbinFloat);
}

}  // namespace wingsim
