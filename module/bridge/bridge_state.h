// bridge_state: the bridge's module-wide state, shared by its parts (the LV1-side rules, the
// watch and discover threads, the dashboard requests). Everything here is atomic or guarded by
// the mutex named beside it; nothing blocks on the network.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "bridge.h"
#include "desk_wing.h"
#include "gm_module.h"
#include "gm_win32.h"

namespace gm {

// Per LV1 channel (0..63).
struct ChannelState {
  std::atomic<bool> known{false};       // a desk value was read, or a set accepted after seeding
  std::atomic<uint32_t> last_set_ms{0};  // 32-bit monotonic ms of the module's last set
  // The module's own sets, to be confirmed back to LV1.
  std::atomic<bool> gain_confirm{false};
  std::atomic<double> gain_to_confirm{0};
  std::atomic<int64_t> phantom_to_confirm{-1};  // -1 nothing, else 0 / 1
  // A desk push recorded by on_desk_push or the fan-out, applied by the watch thread.
  std::atomic<uint64_t> push_seq{0};
  std::atomic<double> push_gain{0};
  std::atomic<bool> push_gain_pending{false};
  std::atomic<bool> push_phantom{false};
  std::atomic<bool> push_phantom_pending{false};
  // Sources pushed: bit 0 "mute", bit 1 "$mute"; bits 2 and 3 their muted states.
  std::atomic<uint8_t> push_mute_source{0};
  std::atomic<bool> push_muted{false};  // the last pushed state, whichever source
  std::atomic<bool> push_mute_pending{false};
  std::atomic<double> push_partner_gain{0};
  std::atomic<bool> push_partner_pending{false};
};

// The watch thread's caches of the values last shown to LV1 from the desk.
struct SeedCache {
  double gain[kChannels] = {};
  bool have_gain[kChannels] = {};
  bool phantom[kChannels] = {};
  bool have_phantom[kChannels] = {};
  void clear() { *this = SeedCache{}; }
};

struct BridgeState {
  std::atomic<bool> ready{false};            // a desk has been adopted
  std::atomic<bool> searching{false};
  std::atomic<bool> started{false};          // the discover thread was started
  std::atomic<bool> watcher_started{false};
  std::atomic<bool> shutdown{false};
  std::atomic<bool> first_seed_done{false};
  std::atomic<uint32_t> find_state{0};
  std::atomic<bool> move_request{false};
  std::atomic<bool> link_stopped{false};
  std::atomic<bool> refind_now{false};
  std::atomic<bool> identity_recheck{false};
  std::atomic<uint64_t> link_moves{0};
  std::atomic<uint32_t> last_reply_ms{0};   // the last watch cycle with the link connected
  std::atomic<bool> ever_replied{false};
  std::atomic<int> seed_differences{0};
  std::atomic<WingGainIface*> iface{nullptr};
  std::atomic<HANDLE> quit{nullptr};
  ChannelState ch[kChannels];

  // The adopted desk and the move target; guarded by desk_mu.
  std::mutex desk_mu;
  DeskFound adopted{};
  std::string label;  // name, else identity, else address
  DeskFound move_target{};
  IpAnswer ip_answer;

  // Session values LV1 handed over; guarded by recall_mu.
  std::mutex recall_mu;
  double recall_gain[kChannels] = {};
  int recall_phantom[kChannels] = {};
  int recall_present[kChannels] = {};
  std::atomic<bool> recall_pending{false};
};

BridgeState& bs();

// LV1's own values in its gain structure. LV1 writes them from its threads while the module
// reads, so every access is atomic.
inline double lv1_gain(const WingGainIface* iface, int ch) {
  double v;
  __atomic_load(&iface->gain[ch], &v, __ATOMIC_RELAXED);
  return v;
}
inline bool lv1_phantom_on(const WingGainIface* iface, int ch) {
  return __atomic_load_n(&iface->phantom[ch], __ATOMIC_RELAXED) == 1;
}

// 32-bit monotonic milliseconds, as the per-channel stamps hold them.
inline uint32_t now32() { return static_cast<uint32_t>(gm_now_ms()); }

// ---- the LV1-side rules and desk values (bridge_set.cpp) --------------------------------------

// Applies one value read from the desk to LV1 through the watch thread's caches.
void apply_value(int ch, bool is_gain, double value, SeedCache& cache);
// The push callback registered with the desk backend (receive thread).
void on_desk_push(const char* group, int input, const char* leaf, double value, bool flag,
                  const char* text);
// Pending pushes for every other bridged channel fed by the same head amp / input.
void fanout_to_siblings(int ch, double db, bool with_gain, bool phantom_on, bool with_phantom);
// -1 unknown, 0 none, 1 the partner was written.
int phantom_partner_of(int ch, char group_out[8], int* input_out);
bool phantom_protected(const char* group, int input);
bool protect_at(int i, char* group_out, size_t size, int* input_out);
bool protect_set(const char* group, int input, bool on);
// Watch thread, step 8: pushes pending 48V confirmations and gain confirmations 300 ms old.
void push_confirmations(uint32_t now_ms);
// Watch thread, step 7: applies recorded desk pushes; returns true when any was applied.
bool apply_desk_pushes(SeedCache& cache, uint64_t seen_seq[kChannels]);
void apply_pending_recall();
void resync_push_to_desk();
// Snaps a value to a range as the status block shows it.
double snap_to_range(double db, double min_db, double max_db, double step_db);

// ---- the threads (bridge.cpp) -----------------------------------------------------------------

// Adopts a desk: identity, status block, metering, push callback, control link.
void desk_found(const DeskFound& desk);

// ---- dashboard requests (bridge_control.cpp) ---------------------------------------------------

// Watch thread: serves the pending control slot with the lowest sequence, if any.
void serve_control_request();

}  // namespace gm
