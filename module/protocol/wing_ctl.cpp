// The desk's control operations: which node path each question or change addresses, how its
// answer is checked before it is believed, and which node hashes are learned from it.
#include "wing_ctl.h"

#include <strings.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "base/text.h"
#include "module_log.h"

namespace gm {
namespace {

constexpr int kReadMs = 400;
constexpr int kListMs = 500;
constexpr int kDefMs = 600;
constexpr size_t kTextBytes = 260;  // the longest string token (256 bytes) and its NUL
constexpr size_t kWireBytes = 17;   // a name token holds at most 16 characters

bool has_text(const char* s) {
  return s && *s;
}
bool valid_index(int n) {
  return n >= 1 && n <= 65536;
}
bool in_bank(int n) {
  return n >= 1 && n <= 64;
}
bool same(const char* a, const char* b) {
  return strcasecmp(a, b) == 0;
}

bool is_string_token(uint8_t t) {
  return t == kWbinEmptyStr || t == kWbinLongStr || (t >= 0x80 && t <= 0xBF);
}
bool is_int_token(uint8_t t) {
  return t < 0x40 || t == kWbinInt16 || t == kWbinInt32;
}
bool is_bool_token(uint8_t t) {
  return t <= 0x01;
}

// The reply to a value request: D7, the node hash, one value token.
struct Reply {
  uint8_t b[kWbinReplyBytes];
  int len = 0;

  uint8_t token() const { return len >= 6 ? b[5] : 0; }
  uint32_t hash() const { return wbin_hash_of_reply(b, len); }
  // The value token, cut where the reply ends.
  int value_len() const {
    if (len < 6) return 0;
    const int tl = wbin_token_len(b + 5, len - 5);
    return tl < 0 || tl > len - 5 ? len - 5 : tl;
  }
  bool number(double* value, bool* flag) const {
    const uint8_t t = token();
    if (len < 6 || !(is_int_token(t) || t == kWbinFloat)) return false;
    return wbin_value_of(b + 5, value_len(), value, flag);
  }
  // The string value into out; an empty text when the token is not a complete string.
  bool text(char* out, size_t size) const {
    out[0] = '\0';
    return len >= 6 && is_string_token(token()) && wbin_string_of(b + 5, value_len(), out, size);
  }
};

WbinBuf named(std::initializer_list<const char*> names) {
  WbinBuf m;
  m.head();
  for (const char* s : names) m.name(s);
  return m;
}

// /io/<dir>/<grp>/<n>
WbinBuf io_node(const char* dir, const char* grp, int n) {
  char wire[kWireBytes];
  wctl_wire_group(grp, wire, sizeof wire);
  WbinBuf m = named({"io", dir, wire});
  m.index(n);
  return m;
}

WbinBuf io_leaf(const char* dir, const char* grp, int n, const char* leaf) {
  WbinBuf m = io_node(dir, grp, n);
  m.name(leaf);
  return m;
}

// /ch/<ch>/in/conn/<leaf>, or /ch/<ch>/name
WbinBuf ch_leaf(int ch, const char* leaf) {
  WbinBuf m = named({"ch"});
  m.index(ch);
  if (std::strcmp(leaf, "name") != 0) {
    m.name("in");
    m.name("conn");
  }
  m.name(leaf);
  return m;
}

bool ask(WbinBuf m, uint32_t expected_hash, Reply* r) {
  m.raw(kWbinGetValue);
  return wbin_transact(m, false, expected_hash, r->b, sizeof r->b, &r->len, kReadMs, false);
}

// The value type a leaf must be answered with; leaves not named here are not checked.
bool leaf_type_ok(const char* leaf, uint8_t t) {
  if (same(leaf, "g")) return t == kWbinFloat;
  if (same(leaf, "vph") || same(leaf, "mute")) return is_bool_token(t);
  if (same(leaf, "$mute") || same(leaf, "$ha")) return t < 0x40;
  return true;
}

// Moves *p past count bytes when they lie within len.
bool skip(int* p, int count, int len) {
  if (len - *p < count) return false;
  *p += count;
  return true;
}

bool is_mode(const char* text) {
  return same(text, "M") || same(text, "ST") || same(text, "M/S");
}

bool is_group_text(const char* text) {
  size_t n = 0;
  for (; text[n]; ++n) {
    const char c = text[n];
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return n < 7;
}

bool is_slot_type_text(const char* text) {
  if (!*text) return false;
  for (const char* c = text; *c; ++c) {
    if (!((*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9'))) return false;
  }
  return true;
}

// A 0/1 answer to a request that has no hash key.
bool ask_flag(const WbinBuf& m, bool* on) {
  Reply r;
  if (!ask(m, 0, &r) || r.len < 6 || !is_bool_token(r.token())) return false;
  *on = r.token() == 1;
  return true;
}

bool probe(const WbinBuf& m, uint32_t* hash, char* buf, size_t size) {
  if (hash) *hash = 0;
  if (buf && size) buf[0] = '\0';
  Reply r;
  if (!ask(m, 0, &r)) return false;
  if (hash) *hash = r.hash();
  if (buf && size) r.text(buf, size);
  return true;
}

void take_record(WctlChannelScan* s, uint32_t hash, const uint8_t* v, uint32_t gain_hash,
                 uint32_t vph_hash) {
  const int k = s->counted;
  if ((gain_hash ? hash == gain_hash : k == 1) && v[0] == kWbinFloat) {
    s->gain_found = true;
    s->db = wbin_f32_be(v + 1);
    s->gain_hash = hash;
  } else if ((vph_hash ? hash == vph_hash : k == 2) && is_bool_token(v[0])) {
    s->phantom_found = true;
    s->phantom = v[0] == 1;
    s->phantom_hash = hash;
  }
}

struct NodeRef {
  const char* grp;
  int n;
};

bool record_is_foreign(void* ctx, uint32_t hash) {
  const NodeRef* node = static_cast<const NodeRef*>(ctx);
  return wbin_hash_is_elsewhere(hash, node->grp, node->n);
}

void deliver_foreign(void*, uint32_t hash, const uint8_t* value, int len) {
  wbin_deliver_record(hash, value, len);
}

bool keep_alive() {
  return read_leaf("LCL", 1, "g", nullptr, nullptr);
}

}  // namespace

bool wctl_start(const char* ip) {
  return wbin_start(ip, keep_alive);
}
void wctl_stop() {
  wbin_stop();
}
bool wctl_connected() {
  return wbin_connected();
}
long wctl_sent() {
  return wbin_sent();
}
long wctl_recv() {
  return wbin_recv();
}
long wctl_pushes() {
  return wbin_pushes();
}
void wctl_on_push(WbinPushFn fn) {
  wbin_on_push(fn);
}
void wctl_on_unknown_push(WbinUnknownFn fn) {
  wbin_on_unknown(fn);
}

void wctl_wire_group(const char* grp, char* out, size_t size) {
  if (!out || size == 0) return;
  const char* src = grp ? grp : "";
  for (const char* g : {"BUS", "MAIN", "MTX", "SEND", "MON"}) {
    if (same(src, g) && size > 1) {
      out[0] = '$';
      gm_base::copy_text(out + 1, size - 1, g);
      return;
    }
  }
  gm_base::copy_text(out, size, src);
}

bool read_leaf(const char* grp, int n, const char* leaf, double* value, bool* flag) {
  if (!has_text(grp) || !valid_index(n) || !has_text(leaf)) return false;
  Reply r;
  if (!ask(io_leaf("in", grp, n, leaf), wbin_known_hash(grp, n, leaf), &r)) return false;
  if (!leaf_type_ok(leaf, r.token())) {
    dlogf("[read] %s %d/%s answered value type 0x%02X - not this leaf, ignoring", grp, n, leaf,
          r.token());
    return false;
  }
  double v = 0;
  bool f = false;
  if (!r.number(&v, &f)) return false;
  wbin_hash_learn(r.hash(), grp, n, leaf);
  if (value) *value = v;
  if (flag) *flag = f;
  return true;
}

bool wctl_get_gain(const char* grp, int n, double* db) {
  return db && read_leaf(grp, n, "g", db, nullptr);
}

bool wctl_get_phantom(const char* grp, int n, bool* on) {
  return on && read_leaf(grp, n, "vph", nullptr, on);
}

bool wctl_get_mute(const char* grp, int n, int* state) {
  if (!state) return false;
  bool muted = false;
  double soft = 0;
  const bool got_mute = read_leaf(grp, n, "mute", nullptr, &muted);
  const bool got_soft = read_leaf(grp, n, "$mute", &soft, nullptr);
  *state = got_mute && muted ? 1 : (got_soft && soft != 0 ? 2 : 0);
  return got_mute || got_soft;
}

bool wctl_get_headamp(const char* grp, int n, int* id) {
  double v = 0;
  if (!id || !read_leaf(grp, n, "$ha", &v, nullptr)) return false;
  *id = static_cast<int>(v);
  return true;
}

bool wctl_get_mode(const char* grp, int n, char* buf, size_t size) {
  if (!buf || size < 2) return false;
  buf[0] = '\0';
  if (!has_text(grp) || !in_bank(n)) return false;
  Reply r;
  if (!ask(io_leaf("in", grp, n, "mode"), wbin_known_hash(grp, n, "mode"), &r)) return false;
  char text[16];
  if (!r.text(text, sizeof text)) return false;
  if (!is_mode(text)) {
    logf("[mode] %s %d answered '%s' - not a mode token, ignoring (stale reply?)", grp, n, text);
    return false;
  }
  wbin_hash_learn(r.hash(), grp, n, "mode");
  gm_base::copy_text(buf, size, text);
  return true;
}

bool wctl_get_input_leaf_str(const char* grp, int n, const char* leaf, char* buf, size_t size) {
  if (!buf || size < 2) return false;
  buf[0] = '\0';
  if (!has_text(grp) || !in_bank(n) || !has_text(leaf)) return false;
  Reply r;
  if (!ask(io_leaf("in", grp, n, leaf), wbin_known_hash(grp, n, leaf), &r)) return false;
  if (!r.text(buf, size)) return false;
  wbin_hash_learn(r.hash(), grp, n, leaf);
  return true;
}

bool wctl_get_input_leaf_bool(const char* grp, int n, const char* leaf, bool* flag) {
  if (!flag || !has_text(grp) || !in_bank(n) || !has_text(leaf)) return false;
  Reply r;
  if (!ask(io_leaf("in", grp, n, leaf), wbin_known_hash(grp, n, leaf), &r)) return false;
  if (!r.number(nullptr, flag)) return false;
  if (is_bool_token(r.token())) wbin_hash_learn(r.hash(), grp, n, leaf);
  return true;
}

int wctl_gain_index(const char* grp, int n) {
  if (n < 2 || n % 2 != 0) return n;
  char mode[4];
  return wctl_get_mode(grp, n, mode, sizeof mode) && same(mode, "ST") ? n - 1 : n;
}

bool wctl_get_range(const char* grp, int n, double* min_db, double* max_db, double* step_db) {
  if (!has_text(grp) || !valid_index(n) || !min_db || !max_db || !step_db) return false;
  WbinBuf m = io_leaf("in", grp, n, "g");
  m.raw(kWbinGetDef);
  uint8_t r[kWbinReplyBytes];
  int len = 0;
  if (!wbin_transact(m, true, 0, r, sizeof r, &len, kDefMs, false)) return false;
  return wctl_parse_range(r, len, min_db, max_db, step_db);
}

bool wctl_parse_range(const uint8_t* r, int len, double* min_db, double* max_db, double* step_db) {
  if (!r || len < 1 || !min_db || !max_db || !step_db) return false;
  int p = r[0] == kWbinEscape ? 1 : 0;
  if (len - p < 2) return false;
  if (!skip(&p, wbin_be16(r + p) == 0 ? 6 : 2, len) || !skip(&p, 10, len)) return false;
  for (int name = 0; name < 2; ++name) {
    if (p >= len || !skip(&p, 1 + r[p], len)) return false;
  }
  if (len - p < 14) return false;
  const int kind = r[p + 1] >> 4;
  if (kind != 1 && kind != 2) return false;
  const double lo = wbin_f32_be(r + p + 2);
  const double hi = wbin_f32_be(r + p + 6);
  const uint32_t steps = wbin_be32(r + p + 10);
  if (steps < 2 || !(hi > lo) || !(hi - lo <= 200)) return false;
  *min_db = lo;
  *max_db = hi;
  *step_db = (hi - lo) / (static_cast<double>(steps) - 1);
  return true;
}

WctlChannelScan wctl_scan_channel(const uint8_t* r, int len, uint32_t gain_hash, uint32_t vph_hash,
                                  const WctlRecordSink& sink) {
  WctlChannelScan s;
  int pos = 0;
  while (r && pos < len) {
    if (r[pos] != kWbinHashRec) {
      ++pos;
      continue;
    }
    const int avail = len - pos - 5;
    const int tl = avail < 1 ? -1 : wbin_token_len(r + pos + 5, avail);
    if (tl < 1 || tl > avail) break;
    const uint32_t hash = wbin_be32(r + pos + 1);
    const uint8_t* value = r + pos + 5;
    pos += 5 + tl;
    if (sink.is_foreign && sink.is_foreign(sink.ctx, hash)) {
      if (sink.deliver) sink.deliver(sink.ctx, hash, value, tl);
      continue;
    }
    take_record(&s, hash, value, gain_hash, vph_hash);
    ++s.counted;
  }
  return s;
}

bool wctl_get_channel(const char* grp, int n, double* db, bool* phantom, bool* gain_found,
                      bool* phantom_found) {
  if (gain_found) *gain_found = false;
  if (phantom_found) *phantom_found = false;
  if (!has_text(grp) || !valid_index(n) || !db || !phantom) return false;
  WbinBuf m = io_node("in", grp, n);
  m.raw(kWbinGetValue);
  uint8_t r[kWbinReplyBytes];
  int len = 0;
  if (!wbin_transact(m, false, 0, r, sizeof r, &len, kListMs, true)) return false;
  NodeRef node{grp, n};
  const WctlRecordSink sink{&node, record_is_foreign, deliver_foreign};
  const WctlChannelScan s =
      wctl_scan_channel(r, len, wbin_known_hash(grp, n, "g"), wbin_known_hash(grp, n, "vph"), sink);
  if (s.gain_found) {
    wbin_hash_learn(s.gain_hash, grp, n, "g");
    *db = s.db;
  }
  if (s.phantom_found) {
    wbin_hash_learn(s.phantom_hash, grp, n, "vph");
    *phantom = s.phantom;
  }
  if (gain_found) *gain_found = s.gain_found;
  if (phantom_found) *phantom_found = s.phantom_found;
  return s.counted > 0;
}

bool wctl_set_gain(const char* grp, int n, double db) {
  if (!has_text(grp) || !valid_index(n) || !(std::fabs(db) <= FLT_MAX)) return false;
  WbinBuf m = io_leaf("in", grp, n, "g");
  m.f32(static_cast<float>(db));
  return wbin_send_only(m);
}

bool wctl_set_phantom(const char* grp, int n, bool on) {
  if (!has_text(grp) || !valid_index(n)) return false;
  WbinBuf m = io_leaf("in", grp, n, "vph");
  m.raw(on ? 1 : 0);
  return wbin_send_only(m);
}

bool wctl_set_mode(const char* grp, int n, const char* text) {
  if (!has_text(grp) || !valid_index(n) || !text) return false;
  WbinBuf m = io_leaf("in", grp, n, "mode");
  m.str(text);
  return wbin_send_only(m);
}

bool wctl_get_patch(const char* out_grp, int n, char* grp_buf, size_t size, int* input) {
  if (!grp_buf || size < 2 || !input) return false;
  grp_buf[0] = '\0';
  if (!has_text(out_grp) || !in_bank(n)) return false;
  Reply g;
  if (!ask(io_leaf("out", out_grp, n, "grp"), wbin_known_hash(out_grp, n, "grp"), &g)) {
    return false;
  }
  char text[kTextBytes];
  if (!g.text(text, sizeof text) || !is_group_text(text)) {
    dlogf("[patch] out %s/%d grp answered '%s' - not a group token, ignoring", out_grp, n, text);
    return false;
  }
  wbin_hash_learn(g.hash(), out_grp, n, "grp");
  Reply in;
  if (!ask(io_leaf("out", out_grp, n, "in"), wbin_known_hash(out_grp, n, "in"), &in)) {
    return false;
  }
  double v = 0;
  if (!is_int_token(in.token()) || !in.number(&v, nullptr)) {
    dlogf("[patch] out %s/%d in answered type 0x%02X - not an index, ignoring", out_grp, n,
          in.token());
    return false;
  }
  if (v < 1 || v > 64) {
    dlogf("[patch] out %s/%d in answered %.0f - out of range, ignoring", out_grp, n, v);
    return false;
  }
  wbin_hash_learn(in.hash(), out_grp, n, "in");
  gm_base::copy_text(grp_buf, size, text);
  *input = static_cast<int>(v);
  return true;
}

bool wctl_set_patch(const char* out_grp, int n, const char* src_grp, int src_input) {
  if (!has_text(out_grp) || !in_bank(n) || !has_text(src_grp) || !in_bank(src_input)) {
    return false;
  }
  WbinBuf g = io_leaf("out", out_grp, n, "grp");
  g.str(src_grp);
  // An input number without its group would patch the wrong source.
  if (!wbin_send_only(g)) return false;
  WbinBuf in = io_leaf("out", out_grp, n, "in");
  in.f32(static_cast<float>(src_input));
  return wbin_send_only(in);
}

bool wctl_get_ch_source(int ch, char* name_buf, size_t name_size, char* grp_buf, size_t grp_size,
                        int* input) {
  if (!name_buf || name_size < 2 || !grp_buf || grp_size < 2 || !input) return false;
  name_buf[0] = grp_buf[0] = '\0';
  *input = 0;
  if (!in_bank(ch)) return false;
  Reply r;
  char grp[kTextBytes];
  if (!ask(ch_leaf(ch, "grp"), wbin_known_hash("$ch", ch, "cgrp"), &r) ||
      !r.text(grp, sizeof grp)) {
    return false;
  }
  wbin_hash_learn(r.hash(), "$ch", ch, "cgrp");
  gm_base::copy_text(grp_buf, grp_size, grp);
  if (!grp[0] || same(grp, "OFF")) return true;
  double v = 0;
  if (!ask(ch_leaf(ch, "in"), wbin_known_hash("$ch", ch, "cin"), &r) || !r.number(&v, nullptr) ||
      v < 1 || v > 64) {
    return false;
  }
  if (is_int_token(r.token())) wbin_hash_learn(r.hash(), "$ch", ch, "cin");
  *input = static_cast<int>(v);
  if (!ask(ch_leaf(ch, "name"), wbin_known_hash("$ch", ch, "cnm"), &r) ||
      !r.text(name_buf, name_size)) {
    return false;
  }
  wbin_hash_learn(r.hash(), "$ch", ch, "cnm");
  return true;
}

bool wctl_probe_hash(const char* grp, int n, const char* leaf, uint32_t* hash, char* buf,
                     size_t size) {
  if (!has_text(grp) || !in_bank(n) || !has_text(leaf)) return false;
  return probe(io_leaf("in", grp, n, leaf), hash, buf, size);
}

bool wctl_probe_hash_out(const char* out_grp, int n, const char* leaf, uint32_t* hash, char* buf,
                         size_t size) {
  if (!has_text(out_grp) || !in_bank(n) || !has_text(leaf)) return false;
  return probe(io_leaf("out", out_grp, n, leaf), hash, buf, size);
}

bool wctl_get_slot_type(const char* slot, char* buf, size_t size) {
  if (!buf || size < 2) return false;
  buf[0] = '\0';
  if (!has_text(slot)) return false;
  WbinBuf m;
  if (same(slot, "MOD")) {
    m = named({"$syscfg", "opt_mod"});
  } else if (same(slot, "CRD")) {
    m = named({"cards", "$type"});
  } else {
    return false;
  }
  Reply r;
  char text[kTextBytes];
  if (!ask(m, 0, &r) || !r.text(text, sizeof text) || !is_slot_type_text(text)) return false;
  gm_base::copy_text(buf, size, text);
  return true;
}

bool wctl_get_port_device(const char* port, char* buf, size_t size) {
  if (!buf || size < 2) return false;
  buf[0] = '\0';
  if (!has_text(port)) return false;
  WbinBuf m;
  if (same(port, "SC")) {
    m = named({"$stat", "sc_devices"});
  } else if (same(port, "A") || same(port, "B") || same(port, "C")) {
    m = named({"$stat", port, "dev"});
  } else {
    return false;
  }
  Reply r;
  return ask(m, 0, &r) && r.text(buf, size);
}

bool wctl_get_ha_remote(const char* port, bool* on) {
  if (!on || !has_text(port) || port[1] != '\0') return false;
  const char letter = static_cast<char>(port[0] | 0x20);
  if (letter < 'a' || letter > 'c') return false;
  const char name[2] = {letter, '\0'};
  return ask_flag(named({"$globals", "harmt", name}), on);
}

bool wctl_get_tcplock(bool* on) {
  return on && ask_flag(named({"$syscfg", "tcplock"}), on);
}

}  // namespace gm
