// A JSON writer that appends to one string, for documents whose exact bytes matter: no white
// space between tokens, keys in the order they are written, and a fixed escaping of strings.
//
// Threads: one writer per thread; it holds no shared state. Nothing here blocks or fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gm {

// Appends `s` as a JSON string: wrapped in double quotes; a line feed as backslash-n; a backslash
// or a double quote behind a backslash; any other control character (below U+0020, DEL and
// U+0080-U+009F) as \u00XX (lower-case hex). Well-formed UTF-8 passes through unchanged, and each
// ill-formed sequence becomes U+FFFD (base/utf8.h), so the result is always valid UTF-8 JSON
// whatever bytes `s` holds.
void json_escape(std::string& out, std::string_view s);

class Json {
 public:
  // Values: each is preceded by "," unless it is the first in its object or array, or follows
  // its key.
  void str(std::string_view s);
  void num(int64_t n);
  void flag(bool b);
  void key(std::string_view k);
  void kv(std::string_view k, std::string_view s) { key(k), str(s); }
  void kv(std::string_view k, const char* s) { key(k), str(s); }
  void kv(std::string_view k, const std::string& s) { key(k), str(s); }
  void kn(std::string_view k, int64_t n) { key(k), num(n); }
  void kb(std::string_view k, bool b) { key(k), flag(b); }

  void open_object() { open('{'); }
  void open_array() { open('['); }
  void open_object(std::string_view k) { key(k), open('{'); }
  void open_array(std::string_view k) { key(k), open('['); }
  void close_object() { close('}'); }
  void close_array() { close(']'); }

  const std::string& text() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  void sep();
  void open(char c);
  void close(char c);

  std::string out_;
  bool first_ = true;
};

}  // namespace gm
