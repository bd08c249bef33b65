// The hand-written JSON writer of the page document.
#include "json_writer.h"

#include <cstdio>

namespace gm {

void json_escape(std::string& out, std::string_view s) {
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  out += '"';
}

void Json::sep() {
  if (!first_) out_ += ',';
}

void Json::key(std::string_view k) {
  sep();
  json_escape(out_, k);
  out_ += ':';
  first_ = true;
}

void Json::str(std::string_view s) {
  sep();
  first_ = false;
  json_escape(out_, s);
}

void Json::num(int64_t n) {
  sep();
  first_ = false;
  out_ += std::to_string(n);
}

void Json::flag(bool b) {
  sep();
  first_ = false;
  out_ += b ? "true" : "false";
}

void Json::open(char c) {
  sep();
  out_ += c;
  first_ = true;
}

void Json::close(char c) {
  out_ += c;
  first_ = false;
}

}  // namespace gm
