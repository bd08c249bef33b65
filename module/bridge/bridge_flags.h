// bridge_flags: the requests that cross between the module's threads. LV1's threads, the receive
// thread and the discover thread raise them; the watch thread consumes them. All atomic.
#pragma once

#include <atomic>
#include <cstdint>

namespace gm {

struct BridgeFlags {
  std::atomic<bool> need_patch{false};   // a full patch refresh
  std::atomic<bool> need_seed{false};    // read gains and 48V from the desk into LV1
  std::atomic<bool> need_names{false};   // refresh the channel names
  std::atomic<bool> need_modes{false};   // re-read every stereo mode
  std::atomic<bool> seed_quietly{false};  // the next seed logs no count
  std::atomic<bool> in_resync{false};    // LV1's values are being replayed to the desk
  std::atomic<uint64_t> reread{0};       // channels whose patch must be re-read
  std::atomic<uint64_t> remode{0};       // channels whose stereo mode must be re-read
  std::atomic<uint64_t> revalidate{0};   // channels re-patched: re-validate against LV1
};

BridgeFlags& bridge_flags();

inline void set_channel_bit(std::atomic<uint64_t>& bits, int ch) {
  if (ch >= 0 && ch < 64) bits.fetch_or(uint64_t{1} << ch);
}
// Takes and clears every bit at once.
inline uint64_t take_channel_bits(std::atomic<uint64_t>& bits) { return bits.exchange(0); }

// True while a dashboard control request waits for an answer (long desk reads stop for it).
bool ctl_pending();

}  // namespace gm
