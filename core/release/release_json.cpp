// The release manifest's JSON reader.
#include "release_json.h"

#include <locale.h>

#include <cstdlib>
#include <cstring>

namespace gm_release {
namespace {

constexpr int kMaxDepth = 32;

bool is_ws(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool in_number(char c) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(unsigned cu, std::string& out) {
  if (cu < 0x80) {
    out += static_cast<char>(cu);
  } else if (cu < 0x800) {
    out += static_cast<char>(0xC0 | (cu >> 6));
    out += static_cast<char>(0x80 | (cu & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cu >> 12));
    out += static_cast<char>(0x80 | ((cu >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cu & 0x3F));
  }
}

// strtod as in the "C" locale, whatever locale the process runs in: a manifest reads the same
// on every Mac.
double c_strtod(const char* s, char** end) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return c_locale ? strtod_l(s, end, c_locale) : strtod(s, end);
}

}  // namespace

const J* J::get(std::string_view key) const {
  if (kind != kObject) return nullptr;
  for (const auto& m : members) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

std::string J::str(std::string_view key) const {
  const J* v = get(key);
  return v && v->kind == kString ? v->text : std::string();
}

void Parser::skip_ws() {
  while (p_ < end_ && is_ws(*p_)) ++p_;
}

bool Parser::at_end() {
  skip_ws();
  return p_ == end_;
}

bool Parser::lit(std::string_view text) {
  if (static_cast<size_t>(end_ - p_) < text.size() || std::memcmp(p_, text.data(), text.size())) {
    return false;
  }
  p_ += text.size();
  return true;
}

bool Parser::value(J& out) {
  if (depth_ >= kMaxDepth) return false;
  ++depth_;
  const bool ok = value_in(out);
  --depth_;
  return ok;
}

bool Parser::value_in(J& out) {
  out = J();
  skip_ws();
  if (p_ == end_) return false;
  switch (*p_) {
    case '{':
      return object(out);
    case '[':
      return array(out);
    case '"':
      out.kind = J::kString;
      return string(out.text);
    case 't':
    case 'f':
      out.kind = J::kBool;
      out.boolean = *p_ == 't';
      return lit(out.boolean ? "true" : "false");
    case 'n':
      return lit("null");
    default:
      return number(out);
  }
}

bool Parser::number(J& out) {
  const char* run_end = p_;
  while (run_end < end_ && in_number(*run_end)) ++run_end;
  if (run_end == p_) return false;
  const std::string run(p_, run_end);
  char* stop = nullptr;
  out.kind = J::kNumber;
  out.number = c_strtod(run.c_str(), &stop);
  if (stop != run.c_str() + run.size()) return false;
  p_ = run_end;
  return true;
}

bool Parser::string(std::string& out) {
  out.clear();
  if (!lit("\"")) return false;
  while (p_ < end_) {
    const char c = *p_++;
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
    } else if (!escape(out)) {
      return false;
    }
  }
  return false;
}

// The escape after a backslash.
bool Parser::escape(std::string& out) {
  static const char kFrom[] = "\"\\/bfnrt";
  static const char kTo[] = "\"\\/\b\f\n\r\t";
  if (p_ == end_) return false;
  const char c = *p_++;
  if (const char* hit = c ? std::strchr(kFrom, c) : nullptr) {
    out += kTo[hit - kFrom];
    return true;
  }
  if (c != 'u' || end_ - p_ < 4) return false;
  unsigned cu = 0;
  for (int i = 0; i < 4; ++i) {
    const int h = hex_value(*p_++);
    if (h < 0) return false;
    cu = cu << 4 | static_cast<unsigned>(h);
  }
  append_utf8(cu, out);
  return true;
}

bool Parser::array(J& out) {
  out.kind = J::kArray;
  ++p_;  // '['
  skip_ws();
  if (lit("]")) return true;
  for (;;) {
    out.items.emplace_back();
    if (!value(out.items.back())) return false;
    skip_ws();
    if (lit("]")) return true;
    if (!lit(",")) return false;
  }
}

bool Parser::object(J& out) {
  out.kind = J::kObject;
  ++p_;  // '{'
  skip_ws();
  if (lit("}")) return true;
  for (;;) {
    std::string key;
    skip_ws();
    if (!string(key)) return false;
    skip_ws();
    if (!lit(":")) return false;
    out.members.push_back({std::move(key), J()});
    if (!value(out.members.back().value)) return false;
    skip_ws();
    if (lit("}")) return true;
    if (!lit(",")) return false;
  }
}

bool parse_json(std::string_view bytes, J& out) {
  Parser p(bytes.data(), bytes.data() + bytes.size());
  return p.value(out) && p.at_end();
}

}  // namespace gm_release
