// Which console a console type uses: the one chosen among several the module found, an address
// typed in Setup, and forgetting that address again.
#include <cstdio>
#include <cstring>
#include <string>

#include "api.h"
#include "base/text.h"
#include "core_state.h"
#include "install_state.h"
#include "lv1.h"
#include "model.h"
#include "status.h"
#include "util.h"

namespace gm {
namespace {

constexpr const char* kNotSaved = "Could not save it \xE2\x80\x94 is Gainmesh installed in LV1?";

// A text field of the status block, which the module always terminates but is read torn-safe.
template <size_t N>
std::string field(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

ConStatus running_status(int which) {
  return read_con_status(which, live_blocks(lv1_info()));
}

// Pins the console with this id and tells the user which one it is.
void choose(int which, const std::string& id, const std::string& name, const std::string& address) {
  if (!cfg_set_line(con_cfg(which), "console", id)) {
    set_msg(kNotSaved);
    return;
  }
  char b[240];
  snprintf(b, sizeof b, "This LV1 uses %s (%s). Gainmesh connects to it within a few seconds.",
           (name.empty() ? address : name).c_str(), address.c_str());
  set_msg(b);
}

}  // namespace
}  // namespace gm

using namespace gm;

extern "C" {

void gm_pick(int which, const char* id) {
  if ((which != 0 && which != 1) || !id || !id[0]) return;
  const ConStatus st = running_status(which);
  if (st.valid) {
    const uint32_t count = st.cand_count < 6 ? st.cand_count : 6;
    for (uint32_t i = 0; i < count; ++i) {
      const ConCandidate& c = st.candidates[i];
      if (field(c.id) == id) {
        choose(which, id, field(c.name), field(c.address));
        return;
      }
    }
    if (st.find_state == 3 && field(st.answer_id) == id) {
      choose(which, id, field(st.answer_name), field(st.typed_ip));
      return;
    }
  }
  set_msg("That console is not on the network any more \xE2\x80\x94 nothing was changed.");
}

bool gm_set_ip(int which, const char* text, char* buf, int size) {
  const size_t room = buf && size > 0 ? static_cast<size_t>(size) : 0;
  if ((which != 0 && which != 1) || !text) {
    gm_base::copy_text(buf, room, "");
    return false;
  }
  std::string address, error;
  if (!ip_text_ok(text, &address, &error)) {
    gm_base::copy_text(buf, room, error);
    return false;
  }
  const std::string path = con_cfg(which);
  if (!cfg_set_line(path, "ip", address)) {
    gm_base::copy_text(buf, room, kNotSaved);
    return false;
  }
  gm_base::copy_text(buf, room, "");
  if (cfg_value(path, "console").empty()) ip_pin_after(which, address);
  const ConStatus st = running_status(which);
  set_msg(st.valid && st.connected
              ? "Saved. Gainmesh uses " + address +
                    " the next time it looks for the console \xE2\x80\x94 after a dropout, or when "
                    "LV1 starts."
              : "Saved. Gainmesh asks " + address + " within a few seconds.");
  return true;
}

void gm_clear_ip(int which) {
  if (which != 0 && which != 1) return;
  if (cfg_set_line(con_cfg(which), "ip", "")) {
    set_msg(std::string("Gainmesh finds the ") + short_name(which) + " by itself again.");
  }
}

}  // extern "C"
