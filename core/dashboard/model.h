// The dashboard's view of each console: one Inputs record gathered per snapshot from everything
// the core can read, and the pure decision that turns it into one ConView per console type (its
// state, texts, colour tones, detail lines, candidate consoles and address controls).
//
// Console types are 0 (WING) and 1 (X32 / M32) everywhere.
//
// Threads: gather, track_connected and the address pin use process-wide values (the last time
// each console was seen connected, the address awaiting a pin) behind a lock of their own, so
// snapshots and gm_set_ip may run on any thread. Everything else is a pure function and may run on
// any thread. Blocking: gather reads files and shared memory (see status.h, install_state.h,
// netperm.h); nothing else blocks. Nothing here fails: unreadable inputs leave their initial
// values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "discovery.h"
#include "loader_layout.h"
#include "lv1.h"
#include "status.h"

namespace gm {

// A colour class; the page writes 0 "dim", 1 "ok", 2 "warn", 3 "bad", 4 "lv1".
enum Tone : int32_t { kToneDim = 0, kToneOk = 1, kToneWarn = 2, kToneBad = 3, kToneLv1 = 4 };

// A console's state. The numbers are part of the page document and never change.
enum class ConState : int32_t {
  not_loaded = 0,
  lost = 1,
  refused = 2,
  update_blocked = 3,
  load_failed = 4,
  not_answering = 5,
  no_slot = 6,
  looking = 7,
  waiting_lv1 = 8,
  legacy = 9,
  connected = 10,
  off = 11,
  choose = 12,
  lan_blocked = 13,
  shared = 14,
  refinding = 15,
  wrong_console = 16,
};

// The states that need the user's attention, as a bit mask over the state number.
inline constexpr uint32_t kAttentionMask = 0x1B07F;
inline bool needs_attention(int state) {
  return state >= 0 && state <= 16 && ((kAttentionMask >> state) & 1u) != 0;
}
// Severity: lower is more urgent; 99 for a number outside 0-16.
int worst_rank(int state);

// One snapshot of everything the dashboard depends on. A plain value; arrays are indexed by
// console type. The member initialisers are the values before gathering.
struct Inputs {
  bool lv1_installed = false;
  bool lv1_running = false;
  int64_t lv1_uptime_ms = -1;  // -1 when not running
  std::string lv1_version;
  bool loader_ok = false;  // the loader block was read into `loader`
  GmLoaderStatus loader = {};
  bool waves_module[2] = {false, false};  // Waves' own module for the card is present
  bool installed[2] = {false, false};     // Gainmesh carries this type's module
  bool enabled[2] = {false, false};       // installed and switched on
  bool recall[2] = {true, true};          // session_recall is not "off"
  bool resync_lv1[2] = {false, false};    // resync is "lv1"
  bool has_hint[2] = {false, false};      // hint, console or ip is set
  ConStatus status[2] = {};               // the module's block; valid false when absent
  Found found[2];                         // the last scan
  bool loader_blocked = false;            // Gainmesh did not load into LV1
  bool update_waiting = false;            // an update is staged or a newer loader waits
  bool translocated = false;              // the app runs from an AppTranslocation folder
  bool outside_applications = false;      // ... or from outside an Applications folder
  bool needs_admin = true;
  int32_t lv1_net_switch = -2;  // LV1's Local Network switch: 1 on, 0 off, -1 unlisted, -2 unknown
  bool ln_privacy = true;       // the system asks apps about the local network
  bool shared[2] = {false, false};  // the console is shared from another LV1 (only when installed)
  int32_t net_perm = 4;             // the app's own permission, see NetPerm
  int64_t since_answer_ms[2] = {-1, -1};  // since the module last reported it connected; -1 never
  int32_t platform = 0;                   // 1 a Windows PC, else a Mac
  bool legacy[2] = {false, false};        // runs on the previous major version's module
  bool legacy_any = false;
  std::string ip[2];  // the address the user typed
};

// What the page shows of one console type.
struct ConView {
  struct Cand {
    std::string head;
    std::string sub;
    std::string id;  // what gm_pick takes
    bool card = false;
  };
  int32_t type = 0;
  bool shown = false;
  bool waves_module = false;
  bool installed = false;
  bool enabled = false;
  bool legacy = false;
  bool is_x32 = false;
  std::string name;      // "WING Rack", "Midas M32", ...; else the short type name
  std::string meta;      // card · address · fw firmware
  std::string card;      // "WSG card", "X-WSG card", "DN32-WSG card"
  std::string address;   // from the discovery line
  std::string firmware;  // shortened
  std::string identity;  // WING: serial; X32 / M32: its name
  ConState state = ConState::off;
  Tone dot = kToneDim;
  Tone edge = kToneDim;
  Tone msg_tone = kToneDim;
  std::string status;
  std::string msg;
  bool retry = false;    // the problem retries by itself
  bool support = false;  // a support file helps
  bool blink = false;
  bool recall = true;
  bool resync_lv1 = false;
  std::string preamps;
  int32_t preamp_count = 0;
  std::string module_version;
  std::string remote;
  std::vector<Cand> cands;
  std::string addr_set;
  std::string addr_desc;
  std::string addr_btn;
  bool addr_can = false;
  bool addr_band = false;
};

// What the page adds beyond the two views: the one-line message, the busy flag, the version.
struct PageExtras {
  std::string message;
  bool busy = false;
  std::string version;
  // Demo mode only: the dialog the scenario shows, the console it is about, the expanded cards.
  bool demo = false;
  std::string fake_modal;
  int32_t fake_modal_con = -1;
  bool fake_open[2] = {false, false};
};

// One snapshot of the machine (demo mode takes fake_inputs() instead): reads LV1, the install
// state, the live blocks, the settings of each installed type and the permissions; pins a
// console answering at a typed address (writing `console` into its settings file); then calls
// track_connected. `lv1` is what the caller has just read with lv1_info(), so that one snapshot
// lists the process table once; null: gather reads it.
Inputs gather(const Found found[2], bool loader_blocked, bool update_waiting, const bool guest[2],
              const Lv1* lv1 = nullptr);
// The demo record as Inputs.
Inputs fake_inputs();

// The view of console type 0 or 1. Pure.
ConView build_view(int type, const Inputs& in);

// Keeps the last time each type was seen connected and sets in.since_answer_ms from it; a type
// not connected while LV1 is not running is forgotten. The form with now_ms takes the monotonic
// time in milliseconds.
void track_connected(Inputs& in);
void track_connected(Inputs& in, int64_t now_ms);
// Forgets when either type was last seen connected.
void forget_connected();

// The display name of a console model: "WING", "WING Rack", "Behringer X32 Compact",
// "Midas M32R", ...
std::string pretty_model(int type, const std::string& model);
// The console preamps LV1's strips use, as runs: "Local 1–8, 11 · AES50 A 1–16"; *count (when not
// null) gets the number of such strips.
std::string preamp_summary(const ConStatus& st, int32_t* count = nullptr);
// The desk's local inputs reached through another desk: "1–8, 12".
std::string remote_inputs(const ConStatus& st);
// The sentence about strips whose stagebox is not connected; "" when there are none.
std::string empty_port_note(const ConStatus& st, const std::string& console_name,
                            const std::string& card_name);

// Checks a typed console address. True with *address in plain dotted form; false with *error
// holding the sentence to show.
bool ip_text_ok(const std::string& text, std::string* address, std::string* error);

// After the user types an address: remember it, so that the console answering there becomes the
// chosen one. Types other than 0 and 1 are ignored.
void ip_pin_after(int type, const std::string& address);
// The console id to write as `console` of the type's settings file now, or "". Clears the
// remembered address once it is used or once `console_value` is set.
std::string ip_pin_due(int type, const ConStatus& st, const std::string& console_value);

}  // namespace gm
