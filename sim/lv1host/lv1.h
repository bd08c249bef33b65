// LV1's side of the rig: 64 channel strips per console type, the rack (whether the type's card is
// in a slot, LV1's device kind for it, further cards of the type) and, while the card is in, the
// type's device with its MAC and its gain structure. Console types: 0 = WING, 1 = X32 / M32.
//
// Thread safety: the operations below run on the command thread; the services in api() are
// called by the IO module from any of its threads. State is guarded by one mutex that is never
// held while calling into the IO module, so the module may call a service from inside any call.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "io_module.h"
#include "lv1_io.h"

namespace lv1host {

inline constexpr int kTypes = 2;
inline constexpr int kStrips = 64;

struct RackSlot {
  bool card_in = false;
  uint32_t kind = 0;
  uint32_t extra = 0;
};

struct RackSetup {
  RackSlot slot[kTypes] = {{true, 1, 0}, {false, 2, 0}};
};

struct Strip {
  double gain = 0;  // dB
  bool phantom = false;
  bool preamp = false;
  double min = 0, max = 0, step = 0;  // dB
  uint64_t queries = 0;               // capability queries of this strip
  uint64_t pushes = 0;                // values the IO module pushed onto it
  uint64_t redraws = 0;               // redraws the IO module asked for
};

// Stored preamp values of a session: which channels hold values, and the values.
struct Session {
  double gain[kStrips] = {};
  int phantom[kStrips] = {};
  int present[kStrips] = {};
};

// LV1's common callback table. Opaque to the IO module except for the sixth pointer-sized slot,
// channel_type_state_changed(table, mac); LV1 knows its owner from the table itself.
struct CommonTable {
  void* slot[8];
  class Lv1* owner;
};

class Lv1 {
 public:
  explicit Lv1(const RackSetup& rack);
  Lv1(const Lv1&) = delete;
  Lv1& operator=(const Lv1&) = delete;

  // LV1's services; valid as long as this object, which must outlive every module thread.
  const Lv1HostApi* api() const { return &api_; }
  // The IO module that gets the user's changes and answers capability queries. Set before the
  // module is loaded; io must outlive this object.
  void set_io(IoModule* io) { io_ = io; }

  // A turn of the gain knob or the 48V switch: updates the strip and the gain structure, then
  // tells the IO module. False with a sentence in err when the type has no device.
  bool turn_gain(int type, int ch, double gain_db, std::string& err);
  bool switch_phantom(int type, int ch, bool on, std::string& err);
  // Opens a session with stored preamp values: shows them on the strips, then hands them to
  // the IO module's recall.
  bool open_session(int type, const Session& session, std::string& err);

  // Rack changes; each tells the IO module. A card put in gets its capabilities queried.
  void set_card(int type, bool in);
  void set_kind(int type, uint32_t kind);
  void set_extra(int type, uint32_t extra);
  RackSetup rack_setup() const;

  // Asks the IO module for has_preamp / min / max / step of every channel of the type's
  // device. Also the service behind channel_type_state_changed, on the caller's thread.
  bool requery(int type, std::string& err);
  // At start: queries the capabilities of every device present.
  void query_all();

  // "ch=.. gain=.. 48v=.. preamp=.. min=.. max=.. step=.. queries=.. pushes=.. redraws=.."
  std::vector<std::string> strip_lines(int type, int from, int to) const;
  // One line per console type: card, kind, extra cards, MAC, device-wide re-queries.
  std::vector<std::string> rack_lines() const;

  // The device's MAC of a type (00:1c:ab:00:00:01 for the WING, ..:02 for the X32 / M32).
  static void mac_of(int type, uint8_t mac[6]);

 private:
  static WingGainIface* svc_gain_iface(void* ctx, int type);
  static bool svc_device_mac(void* ctx, int type, uint8_t mac[6]);
  static void* svc_common_callback(void* ctx);
  static void svc_push(void* ctx, int type, int ch, double gain_db, bool set_gain, bool phantom_on,
                       bool set_phantom, bool live);
  static void svc_refresh_strip(void* ctx, int type, int ch);
  static int svc_card_in_slot(void* ctx, int type);
  static uint32_t svc_card_kind(void* ctx, int type);
  static uint32_t svc_extra_cards(void* ctx, int type);
  static void channel_type_state_changed(void* table, const uint8_t* mac);

  bool has_device(int type, std::string& err) const;
  void show_gain(int type, int ch, double gain_db);  // mutex held
  void show_phantom(int type, int ch, bool on);      // mutex held
  int type_of_mac(const uint8_t* mac) const;

  mutable std::mutex mu_;
  RackSlot rack_[kTypes];
  Strip strips_[kTypes][kStrips];
  uint64_t requeries_[kTypes] = {};
  // The gain structures live as long as LV1: a module that still holds the pointer after the
  // card went out reads stale values, never freed memory.
  WingGainIface iface_[kTypes] = {};
  CommonTable common_{};
  Lv1HostApi api_{};
  IoModule* io_ = nullptr;
};

}  // namespace lv1host
