// LV1's strips, rack and devices, and the services it offers the IO module.
#include "lv1.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace lv1host {
namespace {

constexpr const char* kTypeNames[kTypes] = {"WING", "X32 / M32"};
constexpr const char* kTypeKeys[kTypes] = {"wing", "x32"};

bool valid(int type, int ch) {
  return type >= 0 && type < kTypes && ch >= 0 && ch < kStrips;
}

std::string mac_text(const uint8_t* m) {
  char buf[24];
  snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

std::string num(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

Lv1* self(void* ctx) {
  return static_cast<Lv1*>(ctx);
}

}  // namespace

Lv1::Lv1(const RackSetup& rack) {
  for (int t = 0; t < kTypes; ++t) rack_[t] = rack.slot[t];
  common_.slot[GM_COMMON_SLOT_CHANNEL_TYPE_STATE_CHANGED] =
      reinterpret_cast<void*>(&Lv1::channel_type_state_changed);
  common_.owner = this;
  api_.abi = LV1_IO_ABI;
  api_.ctx = this;
  api_.gain_iface = &Lv1::svc_gain_iface;
  api_.device_mac = &Lv1::svc_device_mac;
  api_.common_callback = &Lv1::svc_common_callback;
  api_.push = &Lv1::svc_push;
  api_.refresh_strip = &Lv1::svc_refresh_strip;
  api_.card_in_slot = &Lv1::svc_card_in_slot;
  api_.card_kind = &Lv1::svc_card_kind;
  api_.extra_cards = &Lv1::svc_extra_cards;
}

void Lv1::mac_of(int type, uint8_t mac[6]) {
  const uint8_t base[6] = {0x00, 0x1c, 0xab, 0x00, 0x00, static_cast<uint8_t>(type + 1)};
  memcpy(mac, base, sizeof base);
}

// The module reads the gain structure from its own threads while LV1 writes it, so every
// element is written atomically.
void Lv1::show_gain(int type, int ch, double gain_db) {
  strips_[type][ch].gain = gain_db;
  std::atomic_ref<double>(iface_[type].gain[ch]).store(gain_db, std::memory_order_relaxed);
}

void Lv1::show_phantom(int type, int ch, bool on) {
  strips_[type][ch].phantom = on;
  std::atomic_ref<unsigned char>(iface_[type].phantom[ch])
      .store(on ? 1 : 0, std::memory_order_relaxed);
}

bool Lv1::has_device(int type, std::string& err) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (rack_[type].card_in) return true;
  err = std::string("There is no ") + kTypeNames[type] + " device: its card is not in a rack slot.";
  return false;
}

bool Lv1::turn_gain(int type, int ch, double gain_db, std::string& err) {
  if (!has_device(type, err)) return false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    show_gain(type, ch, gain_db);
  }
  io_->set_gain(type, ch, gain_db);
  return true;
}

bool Lv1::switch_phantom(int type, int ch, bool on, std::string& err) {
  if (!has_device(type, err)) return false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    show_phantom(type, ch, on);
  }
  io_->set_phantom(type, ch, on);
  return true;
}

bool Lv1::open_session(int type, const Session& s, std::string& err) {
  if (!has_device(type, err)) return false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (int ch = 0; ch < kStrips; ++ch) {
      if (!s.present[ch]) continue;
      show_gain(type, ch, s.gain[ch]);
      show_phantom(type, ch, s.phantom[ch] != 0);
    }
  }
  io_->recall(type, s.gain, s.phantom, s.present);
  return true;
}

void Lv1::set_card(int type, bool in) {
  bool went_in;
  {
    std::lock_guard<std::mutex> lock(mu_);
    went_in = in && !rack_[type].card_in;
    rack_[type].card_in = in;
  }
  io_->rack_changed();
  std::string ignored;
  if (went_in) requery(type, ignored);
}

void Lv1::set_kind(int type, uint32_t kind) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    rack_[type].kind = kind;
  }
  io_->rack_changed();
}

void Lv1::set_extra(int type, uint32_t extra) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    rack_[type].extra = extra;
  }
  io_->rack_changed();
}

RackSetup Lv1::rack_setup() const {
  RackSetup out;
  std::lock_guard<std::mutex> lock(mu_);
  for (int t = 0; t < kTypes; ++t) out.slot[t] = rack_[t];
  return out;
}

bool Lv1::requery(int type, std::string& err) {
  if (!has_device(type, err)) return false;
  Caps caps[kStrips];
  for (int ch = 0; ch < kStrips; ++ch) {
    if (!io_->caps(type, ch, caps[ch])) {
      err = "No IO module is loaded.";
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  for (int ch = 0; ch < kStrips; ++ch) {
    Strip& s = strips_[type][ch];
    s.preamp = caps[ch].preamp;
    s.min = caps[ch].min;
    s.max = caps[ch].max;
    s.step = caps[ch].step;
    ++s.queries;
  }
  ++requeries_[type];
  return true;
}

void Lv1::query_all() {
  std::string ignored;
  for (int t = 0; t < kTypes; ++t) requery(t, ignored);
}

std::vector<std::string> Lv1::strip_lines(int type, int from, int to) const {
  std::vector<std::string> out;
  std::lock_guard<std::mutex> lock(mu_);
  for (int ch = from; ch <= to; ++ch) {
    const Strip& s = strips_[type][ch];
    out.push_back("ch=" + std::to_string(ch) + " gain=" + num(s.gain) +
                  " 48v=" + (s.phantom ? "on" : "off") + " preamp=" + (s.preamp ? "1" : "0") +
                  " min=" + num(s.min) + " max=" + num(s.max) + " step=" + num(s.step) +
                  " queries=" + std::to_string(s.queries) + " pushes=" + std::to_string(s.pushes) +
                  " redraws=" + std::to_string(s.redraws));
  }
  return out;
}

std::vector<std::string> Lv1::rack_lines() const {
  std::vector<std::string> out;
  std::lock_guard<std::mutex> lock(mu_);
  for (int t = 0; t < kTypes; ++t) {
    uint8_t mac[6];
    mac_of(t, mac);
    const RackSlot& r = rack_[t];
    out.push_back("type=" + std::to_string(t) + " key=" + kTypeKeys[t] +
                  " card=" + (r.card_in ? "in" : "out") + " kind=" + std::to_string(r.kind) +
                  " extra=" + std::to_string(r.extra) +
                  " mac=" + (r.card_in ? mac_text(mac) : std::string("none")) +
                  " requeries=" + std::to_string(requeries_[t]));
  }
  return out;
}

int Lv1::type_of_mac(const uint8_t* mac) const {
  if (!mac) return -1;
  std::lock_guard<std::mutex> lock(mu_);
  for (int t = 0; t < kTypes; ++t) {
    uint8_t own[6];
    mac_of(t, own);
    if (rack_[t].card_in && memcmp(own, mac, sizeof own) == 0) return t;
  }
  return -1;
}

WingGainIface* Lv1::svc_gain_iface(void* ctx, int type) {
  Lv1* lv1 = self(ctx);
  if (!valid(type, 0)) return nullptr;
  std::lock_guard<std::mutex> lock(lv1->mu_);
  return lv1->rack_[type].card_in ? &lv1->iface_[type] : nullptr;
}

bool Lv1::svc_device_mac(void* ctx, int type, uint8_t mac[6]) {
  Lv1* lv1 = self(ctx);
  if (!valid(type, 0) || !mac) return false;
  std::lock_guard<std::mutex> lock(lv1->mu_);
  if (!lv1->rack_[type].card_in) return false;
  mac_of(type, mac);
  return true;
}

void* Lv1::svc_common_callback(void* ctx) {
  return &self(ctx)->common_;
}

void Lv1::svc_push(void* ctx, int type, int ch, double gain_db, bool set_gain, bool phantom_on,
                   bool set_phantom, bool /*live*/) {
  Lv1* lv1 = self(ctx);
  if (!valid(type, ch)) return;
  std::lock_guard<std::mutex> lock(lv1->mu_);
  if (!lv1->rack_[type].card_in) return;
  if (set_gain && std::isfinite(gain_db)) lv1->show_gain(type, ch, gain_db);
  if (set_phantom) lv1->show_phantom(type, ch, phantom_on);
  ++lv1->strips_[type][ch].pushes;
}

void Lv1::svc_refresh_strip(void* ctx, int type, int ch) {
  Lv1* lv1 = self(ctx);
  if (!valid(type, ch)) return;
  std::lock_guard<std::mutex> lock(lv1->mu_);
  ++lv1->strips_[type][ch].redraws;
}

int Lv1::svc_card_in_slot(void* ctx, int type) {
  Lv1* lv1 = self(ctx);
  if (!valid(type, 0)) return 0;
  std::lock_guard<std::mutex> lock(lv1->mu_);
  return lv1->rack_[type].card_in ? 1 : 0;
}

uint32_t Lv1::svc_card_kind(void* ctx, int type) {
  Lv1* lv1 = self(ctx);
  if (!valid(type, 0)) return 0;
  std::lock_guard<std::mutex> lock(lv1->mu_);
  return lv1->rack_[type].kind;
}

uint32_t Lv1::svc_extra_cards(void* ctx, int type) {
  Lv1* lv1 = self(ctx);
  if (!valid(type, 0)) return 0;
  std::lock_guard<std::mutex> lock(lv1->mu_);
  return lv1->rack_[type].extra;
}

void Lv1::channel_type_state_changed(void* table, const uint8_t* mac) {
  if (!table) return;
  Lv1* lv1 = static_cast<CommonTable*>(table)->owner;
  const int type = lv1->type_of_mac(mac);
  if (type < 0) {
    fprintf(stderr, "lv1host: channel_type_state_changed for %s, which is no device - ignored\n",
            mac ? mac_text(mac).c_str() : "a null MAC");
    return;
  }
  std::string err;
  if (!lv1->requery(type, err)) fprintf(stderr, "lv1host: %s\n", err.c_str());
}

}  // namespace lv1host
