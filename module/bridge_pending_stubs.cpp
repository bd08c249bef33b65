// Temporary weak stand-ins while the bridge's rules and dashboard requests are being written;
// the real definitions override them.
#include "bridge_state.h"
namespace gm {
__attribute__((weak)) bool apply_desk_pushes(SeedCache&, uint64_t*) { return false; }
__attribute__((weak)) void apply_pending_recall() {}
__attribute__((weak)) void apply_value(int, bool, double, SeedCache&) {}
__attribute__((weak)) void on_desk_push(const char*, int, const char*, double, bool, const char*) {}
__attribute__((weak)) void push_confirmations(uint32_t) {}
__attribute__((weak)) void resync_push_to_desk() {}
__attribute__((weak)) void serve_control_request() {}
}  // namespace gm
