// The small JSON reader for release manifests: the whole document becomes a tree of J values.
// Exact rules (kept narrow on purpose, since the bytes come from the network before they are
// verified): at most 32 levels of nesting; literals in lower case only; a number is the longest
// run of "+-0123456789.eE" and must convert whole, independent of the C locale; string escapes
// are \" \\ \/ \b \f \n \r \t and \uXXXX (each code unit written as UTF-8 on its own, surrogate
// pairs are not combined); other bytes in strings, control characters included, are kept as
// they are; no trailing commas. Whitespace (space, tab, LF, CR) may stand between any two tokens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gm_release {

struct JMember;

struct J {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<J> items;
  // In document order, duplicate keys kept.
  std::vector<JMember> members;

  // The first member named exactly `key`; null when there is none or this is not an object.
  const J* get(std::string_view key) const;
  // That member's text when it is a string, else "".
  std::string str(std::string_view key) const;
};

struct JMember {
  std::string key;
  J value;
};

// Reads JSON from [p, end). Each call starts at the current position and, on success, leaves
// it after what it read; after a failure the position and `out` are unspecified.
class Parser {
 public:
  Parser(const char* p, const char* end) : p_(p), end_(end) {}

  // One value, with the whitespace before it.
  bool value(J& out);
  // A string starting at the current position (the opening quote), unescaped into `out`.
  bool string(std::string& out);
  // True, and moves past it, when the bytes at the current position are exactly `text`.
  bool lit(std::string_view text);
  // Skips whitespace; true when nothing else is left.
  bool at_end();

 private:
  bool value_in(J& out);
  bool number(J& out);
  bool array(J& out);
  bool object(J& out);
  bool escape(std::string& out);
  void skip_ws();

  const char* p_;
  const char* end_;
  int depth_ = 0;
};

// The whole of `bytes` as one JSON value, optionally surrounded by whitespace.
bool parse_json(std::string_view bytes, J& out);

}  // namespace gm_release
