// wingbin_codec: the byte level of the WING's native binary protocol, shared by the module's
// control link and the virtual desk of the rig. Pure functions and small value types: no
// threads, no sockets, no allocation.
//
// Token bytes (after transport unescaping):
//   00-3F small integer 0..63        40-7F node index 1..64        80-BF string of 1..64 bytes
//   C0-CF node name of 1..16 chars   D0 empty string               D1 L: string of L+1 bytes
//   D2 hi lo: node index (hi<<8|lo)+1   D3 int16 BE   D4 int32 BE   D5 float32 BE
//   D6 four bytes   D7 hash32 BE + one value token   D9 one byte   D8 DB no payload
//   DA root   DC value request   DD definition request   DE end of list
//   DF len16 BE + len bytes: a node definition (in replies)
// Transport escaping: DF is the escape byte. Senders write a data byte DF as DF DE; every message
// starts DF D1 (control channel) DA (root).
#pragma once

#include <cstddef>
#include <cstdint>

namespace gm {

inline constexpr uint8_t kWbinEscape = 0xDF;
inline constexpr uint8_t kWbinRoot = 0xDA;
inline constexpr uint8_t kWbinGetValue = 0xDC;
inline constexpr uint8_t kWbinGetDef = 0xDD;
inline constexpr uint8_t kWbinEndList = 0xDE;
inline constexpr uint8_t kWbinHashRec = 0xD7;
inline constexpr uint8_t kWbinFloat = 0xD5;
inline constexpr uint8_t kWbinInt16 = 0xD3;
inline constexpr uint8_t kWbinInt32 = 0xD4;
inline constexpr uint8_t kWbinEmptyStr = 0xD0;
inline constexpr uint8_t kWbinLongStr = 0xD1;
inline constexpr uint8_t kWbinBigIndex = 0xD2;
inline constexpr int kWbinMsgBytes = 256;

// Length in bytes of the token starting at p, given `avail` bytes there: -1 when avail < 1, or
// for D1 when only one byte is available. For D7 the length is 5 (the value token follows); for
// DF it is len16 + 3 (needs 3 bytes, else -1).
int wbin_token_len(const uint8_t* p, int avail);

// Receive-side unescaping, byte by byte, with an escape-pending flag that survives from one
// receive call to the next. Bytes beyond `cap` are dropped. Returns the number of bytes stored.
struct WbinUnescaper {
  bool pending = false;
  uint8_t channel = 0;  // the last channel select seen (DF D0..DD), 0 before any
  size_t feed(const uint8_t* in, size_t n, uint8_t* out, size_t cap);
};

// An outgoing message: 256 bytes and a fill count; appending stops silently at 256 bytes.
struct WbinBuf {
  uint8_t b[kWbinMsgBytes];
  uint32_t n = 0;

  void raw(uint8_t byte);           // as it is (framing and one-byte values 0/1)
  void escaped(uint8_t byte);       // DF becomes DF DE
  void head();                      // DF D1 DA
  void name(const char* text);      // BF+len, up to 16 characters (cut), escaped; "" adds nothing
  void index(int i);                // 3F+i for 1..64, else D2 hi lo of i-1 (escaped)
  void f32(float x);                // D5 + 4 bytes big-endian, escaped
  void str(const char* text);       // 7F+len with up to 64 bytes (escaped), D0 when empty
  void path(const char* const* names, int count);  // several name tokens
};

// Value decoding: scans from the first byte; 00/01 -> 0/1 (flag = byte == 1); 02-3F -> the byte
// (flag true); D3 / D4 / D5 -> the number (flag = nonzero); other bytes are skipped. False when
// nothing decodable is found or the payload would run past len.
bool wbin_value_of(const uint8_t* p, int len, double* value, bool* flag);

// String decoding of one token: D0 empty, 80-BF short, D1 long. The bytes must lie within len;
// the copy is cut to size - 1 and NUL-terminated. False for any other token.
bool wbin_string_of(const uint8_t* p, int len, char* out, size_t size);

// The hash of a reply that starts with D7 and holds at least 5 bytes, else 0.
uint32_t wbin_hash_of_reply(const uint8_t* p, int len);

// The desk's side: one request as a client sends it (after unescaping): DA, then name and index
// tokens, then DC (value request), DD (definition request) or a value token (a set).
struct WbinPathToken {
  bool is_index;
  int index;      // when is_index
  char name[17];  // when not
};
struct WbinRequest {
  enum Kind { kGet, kGetDef, kSet } kind;
  WbinPathToken path[16];
  int depth;
  const uint8_t* value;  // kSet: the value token, inside the parsed bytes
  int value_len;
};
// Returns the bytes consumed, 0 when the request is not complete yet, -1 when p does not start a
// well-formed request (the caller skips one byte and tries again).
int wbin_parse_request(const uint8_t* p, int len, WbinRequest* out);

// Big-endian helpers.
inline uint32_t wbin_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t wbin_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
float wbin_f32_be(const uint8_t* p);

}  // namespace gm
