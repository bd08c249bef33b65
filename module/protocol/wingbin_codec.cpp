// Byte-level encoding and decoding of the WING native protocol.
#include "wingbin_codec.h"

#include <cstring>

namespace gm {

int wbin_token_len(const uint8_t* p, int avail) {
  if (!p || avail < 1) return -1;
  const uint8_t t = p[0];
  if (t < 0x80) return 1;
  if (t < 0xC0) return 1 + (t - 0x7F);
  if (t < 0xD0) return 1 + (t - 0xBF);
  switch (t) {
    case 0xD1: return avail < 2 ? -1 : p[1] + 3;
    case 0xD2:
    case 0xD3: return 3;
    case 0xD4:
    case 0xD5:
    case 0xD6:
    case 0xD7: return 5;
    case 0xD9: return 2;
    case 0xDF: return avail < 3 ? -1 : wbin_be16(p + 1) + 3;
    default: return 1;  // D0, D8, DA, DB, DC, DD, DE
  }
}

size_t WbinUnescaper::feed(const uint8_t* in, size_t n, uint8_t* out, size_t cap) {
  size_t stored = 0;
  auto store = [&](uint8_t b) {
    if (stored < cap) out[stored++] = b;
  };
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = in[i];
    if (!pending) {
      if (b == kWbinEscape) pending = true;
      else store(b);
      continue;
    }
    if (b == 0xDE) {
      store(kWbinEscape);
      pending = false;
    } else if (b >= 0xD0 && b <= 0xDD) {
      channel = b;  // a channel select
      pending = false;
    } else if (b == kWbinEscape) {
      store(kWbinEscape);  // stays pending
    } else {
      store(kWbinEscape);
      store(b);
      pending = false;
    }
  }
  return stored;
}

void WbinBuf::raw(uint8_t byte) {
  if (n < kWbinMsgBytes) b[n++] = byte;
}

void WbinBuf::escaped(uint8_t byte) {
  raw(byte);
  if (byte == kWbinEscape) raw(0xDE);
}

void WbinBuf::head() {
  raw(kWbinEscape);
  raw(0xD1);
  raw(kWbinRoot);
}

void WbinBuf::name(const char* text) {
  if (!text || !*text) return;
  const size_t len = strnlen(text, 16);
  raw(static_cast<uint8_t>(0xBF + len));
  for (size_t i = 0; i < len; ++i) escaped(static_cast<uint8_t>(text[i]));
}

void WbinBuf::index(int i) {
  if (i >= 1 && i <= 64) {
    raw(static_cast<uint8_t>(0x3F + i));
    return;
  }
  const unsigned v = static_cast<unsigned>(i - 1);
  raw(kWbinBigIndex);
  escaped(static_cast<uint8_t>((v >> 8) & 0xFF));
  escaped(static_cast<uint8_t>(v & 0xFF));
}

void WbinBuf::f32(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  raw(kWbinFloat);
  for (int shift = 24; shift >= 0; shift -= 8) escaped(static_cast<uint8_t>(bits >> shift));
}

void WbinBuf::str(const char* text) {
  const size_t len = text ? strnlen(text, 64) : 0;
  if (len == 0) {
    raw(kWbinEmptyStr);
    return;
  }
  raw(static_cast<uint8_t>(0x7F + len));
  for (size_t i = 0; i < len; ++i) escaped(static_cast<uint8_t>(text[i]));
}

void WbinBuf::path(const char* const* names, int count) {
  for (int i = 0; i < count; ++i) name(names[i]);
}

float wbin_f32_be(const uint8_t* p) {
  const uint32_t bits = wbin_be32(p);
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

bool wbin_value_of(const uint8_t* p, int len, double* value, bool* flag) {
  if (!p || len <= 0) return false;
  double v = 0;
  bool f = false;
  for (int i = 0; i < len; ++i) {
    const uint8_t t = p[i];
    if (t <= 0x01) {
      v = t;
      f = t == 1;
    } else if (t < 0x40) {
      v = t;
      f = true;
    } else if (t == kWbinInt16) {
      if (i + 3 > len) return false;
      v = static_cast<int16_t>(wbin_be16(p + i + 1));
      f = v != 0;
    } else if (t == kWbinInt32) {
      if (i + 5 > len) return false;
      v = static_cast<int32_t>(wbin_be32(p + i + 1));
      f = v != 0;
    } else if (t == kWbinFloat) {
      if (i + 5 > len) return false;
      v = wbin_f32_be(p + i + 1);
      f = v != 0;
    } else {
      continue;
    }
    if (value) *value = v;
    if (flag) *flag = f;
    return true;
  }
  return false;
}

bool wbin_string_of(const uint8_t* p, int len, char* out, size_t size) {
  if (!p || len < 1 || !out || size == 0) return false;
  size_t n, off;
  if (p[0] == kWbinEmptyStr) {
    n = 0;
    off = 1;
  } else if (p[0] >= 0x80 && p[0] <= 0xBF) {
    n = p[0] - 0x7F;
    off = 1;
  } else if (p[0] == kWbinLongStr) {
    if (len < 2) return false;
    n = size_t(p[1]) + 1;
    off = 2;
  } else {
    return false;
  }
  if (off + n > static_cast<size_t>(len)) return false;
  const size_t copy = n < size - 1 ? n : size - 1;
  std::memcpy(out, p + off, copy);
  out[copy] = '\0';
  return true;
}

uint32_t wbin_hash_of_reply(const uint8_t* p, int len) {
  if (!p || len < 5 || p[0] != kWbinHashRec) return 0;
  return wbin_be32(p + 1);
}

int wbin_parse_request(const uint8_t* p, int len, WbinRequest* out) {
  if (len < 1) return 0;
  if (p[0] != kWbinRoot) return -1;
  out->depth = 0;
  out->value = nullptr;
  out->value_len = 0;
  int i = 1;
  while (true) {
    if (i >= len) return 0;
    const int tl = wbin_token_len(p + i, len - i);
    if (tl < 0 || i + tl > len) return 0;
    const uint8_t t = p[i];
    const bool is_name = t >= 0xC0 && t <= 0xCF;
    const bool is_index = (t >= 0x40 && t <= 0x7F) || t == kWbinBigIndex;
    if (is_name || is_index) {
      if (out->depth >= 16) return -1;
      WbinPathToken& tok = out->path[out->depth++];
      tok.is_index = is_index;
      tok.index = 0;
      tok.name[0] = '\0';
      if (is_index) {
        tok.index = t == kWbinBigIndex ? wbin_be16(p + i + 1) + 1 : t - 0x3F;
      } else {
        std::memcpy(tok.name, p + i + 1, tl - 1);
        tok.name[tl - 1] = '\0';
      }
      i += tl;
      continue;
    }
    if (t == kWbinGetValue || t == kWbinGetDef) {
      out->kind = t == kWbinGetValue ? WbinRequest::kGet : WbinRequest::kGetDef;
      return i + 1;
    }
    const bool is_value = t < 0x40 || (t >= 0x80 && t <= 0xBF) || (t >= 0xD0 && t <= 0xD5);
    if (!is_value || out->depth == 0) return -1;
    out->kind = WbinRequest::kSet;
    out->value = p + i;
    out->value_len = tl;
    return i + tl;
  }
}

}  // namespace gm
