// bridge: keeps LV1's gain and 48V and the desk's head amps in step. Owns the module's threads
// (discover and watch), the quit event, and the start / attach / stop sequence.
//
// Threads: bridge_start / bridge_attach / bridge_stop run on the loader's thread; the set,
// capability and recall operations on LV1's threads; everything else on the module's threads.
#pragma once

#include <cstdint>
#include <string>

#include "bridge_status.h"
#include "gm_module.h"

namespace gm {

inline constexpr int kChannels = 64;
inline constexpr double kDefaultGainMin = 0.0;
inline constexpr double kDefaultGainMax = 45.0;
inline constexpr double kDefaultGainStep = 2.5;
inline constexpr uint32_t kStopWaitMs = 3000;

// Loads the settings, opens the status block and starts the discover thread. Does nothing once a
// desk has been adopted or while the discover thread already runs. Never blocks on the network.
void bridge_start();

// Stores LV1's gain interface (null until attached) and starts the watch thread once.
void bridge_attach(WingGainIface* iface);

// Stops every module thread, waiting at most kStopWaitMs; a thread that does not end is counted
// as left running (see host_services.h) and the bridge is not re-armed.
void bridge_stop();

// LV1 -> desk. Channels are LV1 channels 0..63. Never block on the network.
void bridge_set_gain(int ch, double gain_db);
void bridge_set_phantom(int ch, bool on);
void bridge_recall(const double gain[64], const int phantom[64], const int present[64]);

// Capabilities LV1 shows for a channel.
bool bridge_has_preamp(int ch);
double bridge_gain_min(int ch);
double bridge_gain_max(int ch);
double bridge_gain_step(int ch);

// Sleeps up to ms on the quit event; true when the module is shutting down. Module threads.
bool quit_wait(uint32_t ms);
bool bridge_shutting_down();

// Asks the watch thread for a full patch re-read.
void bridge_request_patch();

// ---- facts the status block publishes (any thread) ------------------------------------------

bool bridge_ready();              // a desk has been adopted
bool bridge_desk_answering();     // adopted, and it answered within the last 6000 ms
bool bridge_patch_read();         // the desk patch has been read
uint32_t bridge_patch_age_ms();   // since the patch was last read; 0xFFFFFFFF if never
bool bridge_read_only();          // patch unread, re-find running or TCP lock on
uint32_t bridge_find_state();     // GM_FIND_*
uint64_t bridge_link_moves();     // times the link moved to a new address
std::string bridge_desk_label();  // name, else identity, else address of the adopted desk
StatusTextFacts bridge_status_facts();

// The console answering at the ip= address: identity and name (else identity, else address).
struct IpAnswer {
  std::string identity;
  std::string name;
};
IpAnswer bridge_ip_answer();

// The gain range of the current bank's group (defaults 0 / 45 / 2.5 when unknown).
struct BankRange {
  double min_db = kDefaultGainMin;
  double max_db = kDefaultGainMax;
  double step_db = kDefaultGainStep;
};
BankRange bridge_bank_range();

// What the block shows for one bridged channel once the patch is read.
struct ChannelFacts {
  std::string group;
  int input = 0;
  bool preamp = false;
  std::string name;
  bool has_level = false, has_peak = false, clipped = false;
  double level_db = 0, peak_db = 0;
  uint8_t stereo = 0;
  uint8_t mute_bits = 0;  // bit 0: "mute" leaf, bit 1: "$mute" leaf
  bool is_protected = false;
  bool parked_valid = false;
  double parked_db = 0;
};
// False when the channel is not known (it is then published empty).
bool bridge_channel_facts(int ch, ChannelFacts& out);

}  // namespace gm
