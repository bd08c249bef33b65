// The hand-written JSON writer of the page document.
#include "json_writer.h"

#include <cstdio>

#include "base/utf8.h"

namespace gm {

void json_escape(std::string& out, std::string_view s) {
  out += '"';
  for (size_t at = 0; at < s.size();) {
    char32_t c;
    const size_t n = gm_base::utf8_next(s, at, &c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (gm_base::is_control(c)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else if (c == gm_base::kReplacementChar) {
      out += gm_base::kReplacementUtf8;
    } else {
      out.append(s.substr(at, n));
    }
    at += n;
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
