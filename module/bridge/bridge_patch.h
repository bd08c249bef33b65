// bridge_patch: the desk's input patch as the bridge sees it. One record per LV1 channel (which
// desk input feeds it, whose head amp its gain drives, whether LV1 may show preamp controls,
// stereo role, mute, parked gain), the gain range per desk input group, the channel names, the
// card slot that carries LV1's card, the preamp capacity of the boxes on the desk's ports and
// the desk's network lock. Filled from the desk through the backend table (desk()).
//
// Threads: everything that reads the desk (patch_*, modes_*, names_refresh, own_gain_read,
// learn_range, relearn_stale_ranges) runs on the watch thread and blocks for desk requests.
// The setters may be called from any thread; writes are serialised inside this file. Readers
// (wing_*, patch_channel, the accessors) run on any thread, take no lock and never block: a
// channel or range record is always seen whole, before or after a change; a name may be seen
// torn. Separate calls (wing_grp then wing_src) may straddle a change; take patch_channel() for
// one consistent view.
#pragma once

#include <cstdint>
#include <string>

namespace gm {

inline constexpr int kMaxRanges = 8;
inline constexpr int kNameBytes = 20;  // 19 characters and the NUL
inline constexpr uint32_t kRangeRetryMs = 60000;

// One LV1 channel as the desk patches it.
struct PatchChannel {
  char group[8] = "";        // desk input group; "" or "OFF" when nothing is routed
  int input = 0;             // input number in that group; 0 = nothing
  int gain_input = 0;        // input whose head amp the gain drives (input - 1 for a right leg)
  bool has_preamp = false;   // LV1 may show gain and 48V
  uint8_t stereo = 0;        // 0 none, 1 / 3 left (odd) leg, 2 / 4 right (even) leg
  bool stereo_read = false;  // the role above was read from the desk for this source
  uint8_t mute_bits = 0;     // bit 0: the "mute" leaf, bit 1: the "$mute" leaf
  bool parked_valid = false;
  double parked_db = 0;  // the input's own gain while its gain goes to the partner's head amp
  int ha_type = -1;      // head-amp type as the desk reports it; -1 unknown, 0 / 1 unusable
};

// The gain range of one desk input group.
struct RangeRecord {
  char group[8] = "";
  double min_db = 0, max_db = 0, step_db = 0;
  bool from_desk = false;  // false: defaults, because the desk gave no definition
  uint32_t failed_ms = 0;  // 32-bit monotonic ms of the last failed attempt
  int channels = 0;        // bridged channels whose group is this one, capped at 255
};

// ---- the bridge's view of a channel (any thread) ---------------------------------------------
// Before the first patch read every channel maps to the settings' bank and base + channel and
// has a preamp, so LV1 shows controls at once; sends are held back until the patch is read.

std::string wing_grp(int ch);  // the group; the bank before the read or when empty
int wing_src(int ch);          // the input; base + ch before the read; 0 outside 0..63
int wing_gain_src(int ch);     // the gain input, else the input; base + ch before the read
bool wing_has_preamp(int ch);  // false outside 0..63; true before the read

// The lowest bridged channel (below the watched count) with a preamp whose own input is
// (group, input), group compared ignoring case; -1 when none.
int ch_for_wing(const char* group, int input);

// A consistent copy of the record (the empty record outside 0..63).
PatchChannel patch_channel(int ch);

bool patch_is_read();                // at least one channel has been read from the desk
uint32_t patch_age_ms();             // since the last read; 0xFFFFFFFF if never
std::string patch_card();            // the card slot LV1's channels come from: "MOD" or "CRD"
bool patch_tcp_lock();               // the desk refuses changes from the network
int port_preamps(const char* port);  // "A", "B", "C", "SC": the box's head amps; -1 unknown
// True for "A", "B", "C" and "SC" when the port's count is unknown or input is at most the
// count; true for every other group.
bool port_allows_preamp(const char* group, int input);

// The names cache: the desk's name for the channel's input, "" when none.
std::string patch_name(int ch);

// Range records in the order learned. find_range: group compared ignoring case; out may be
// null. The channel counts are taken when asked.
int range_count();
bool range_at(int i, RangeRecord* out);
bool find_range(const char* group, RangeRecord* out);

// ---- reading the desk (watch thread; each blocks for desk requests) -------------------------

// Card output ch + 1 of the current card: -1 the desk did not answer (record unchanged), 0
// unchanged, 1 changed (source, or whether its head amp is usable). A change sets the channel's
// bit in bridge_flags().revalidate.
int patch_read_one(int ch);

// The whole patch, while the control link is up: once per run the card-slot report and the
// port boxes; the network lock; channels 0..watch-1 (stopping for a pending dashboard request
// or after three unanswered); once per run the switch to the other card when the current one
// routes nothing; ranges; and, when something changed, the summary, a new seed and names and
// LV1's re-query. True when at least one channel answered.
bool patch_refresh();

// Marks the patch read now (after channels were re-read one by one).
void patch_mark_read();

// Learns the range of every bridged channel's group that has a preamp.
void learn_channel_ranges();
// Nothing for an empty or known group or when kMaxRanges exist; else asks the desk for the
// group's gain definition, or records the defaults with the failure time.
void learn_range(const char* group);
// Retries the first record without a desk definition whose last attempt is kRangeRetryMs or
// more before now_ms (monotonic). One record per call.
void relearn_stale_ranges(uint64_t now_ms);

// Stereo roles of every routed channel, while connected and the patch is read. Returns the
// number of channels whose role or gain input changed; those are marked for re-validation.
int modes_refresh();
// The same for one channel: -1 no answer, 0 unchanged, 1 changed.
int modes_refresh_one(int ch);

// Every routed channel's input name, while connected and the patch is read. False when three
// reads in a row failed (the cache is then unchanged).
bool names_refresh();

// For a channel whose gain goes to its partner's head amp: reads the gain held in its own
// input's gain node as its parked gain. False for any other channel or without an answer.
bool own_gain_read(int ch);

// Logs every head amp that drives more than one bridged channel with a preamp.
void log_gain_ganging();

// ---- changes from the bridge (any thread) ----------------------------------------------------

// The mute state a seed read (0, 1 "mute" on, 2 only "$mute"), as the channel's mute bits.
void patch_set_mute_state(int ch, int state);
// A pushed mute: source 1 the "mute" leaf (bit 0), 2 the "$mute" leaf (bit 1).
void patch_set_mute_bit(int ch, int source, bool muted);
// A pushed value of the channel's own gain node while its gain goes to its partner.
void patch_set_parked(int ch, double db);
// The channel's input turned out to have no gain node: no preamp controls for it.
void patch_drop_preamp(int ch);

// Back to the state of a fresh module: every record empty, patch unread, card from the
// settings, lock off, ports unknown, no ranges or names, the once-per-run steps due again.
// Only while no module thread runs.
void patch_reset();

}  // namespace gm
