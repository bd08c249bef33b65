// The loader's live status turned into setup messages: Gainmesh did not load into LV1, LV1 must
// be reopened once, or a console module was refused.
#include <cstdio>
#include <mutex>

#include "core_state.h"
#include "install_state.h"
#include "status.h"
#include "util.h"

namespace gm {
namespace {

constexpr int64_t kLoaderGraceMs = 45000;

// What check_blocks remembers between calls; only its own thread of calls touches it.
struct Seen {
  uint32_t pid = 0;
  bool told = false;
  uint32_t refusals[2] = {0, 0};
};

std::mutex& seen_mutex() {
  static std::mutex mu;
  return mu;
}
Seen& seen() {
  static Seen s;
  return s;
}

void set_blocked(bool blocked) {
  std::lock_guard<std::mutex> lock(core_mutex());
  core_state().loader_blocked = blocked;
}

void tell_refusals(Seen& s, const GmLoaderStatus& block) {
  for (int i = 0; i < 2; ++i) {
    const GmLoaderConsole& c = block.consoles[i];
    if (c.load_error == s.refusals[i]) continue;
    s.refusals[i] = c.load_error;
    if (c.load_error == 0) continue;
    char text[400];
    std::snprintf(text, sizeof text, "The %s module %s would not load (error %u). %s",
                  short_name(i), c.module_file, c.error_code,
                  c.running_version[0] ? "Gainmesh keeps running the version it had."
                                       : "That console runs without Gainmesh until it loads.");
    set_msg(text);
  }
}

}  // namespace

void check_blocks(const Lv1& lv1) {
  std::lock_guard<std::mutex> lock(seen_mutex());
  Seen& s = seen();
  if (lv1.pid == 0) {
    set_blocked(false);
    s.pid = 0;
    s.told = false;
    return;
  }
  if (lv1.pid != s.pid) s = Seen{lv1.pid};
  GmLoaderStatus block{};
  if (!read_loader_status(&block, live_blocks(lv1))) {
    if (lv1.up_ms < kLoaderGraceMs || s.told || !installed()) return;
    s.told = true;
    if (install_time() < lv1.start_s) {
      set_blocked(true);
      set_msg("Gainmesh did not load into eMotion LV1, so LV1 runs without preamp control. Save "
              "support file\xE2\x80\xA6 shows why.");
    } else {
      set_msg("Gainmesh is installed. It starts with LV1 \xE2\x80\x94 close and reopen LV1 once.");
    }
    return;
  }
  set_blocked(false);
  tell_refusals(s, block);
  s.told = true;
}

void check_blocks() { check_blocks(lv1_info()); }

}  // namespace gm
