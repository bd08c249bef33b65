// Dashboard snapshots with text from outside in every place where it reaches the page document:
// a WING's discovery reply (through the scan's own reading of the datagram), the typed addresses
// of the settings files, LV1's version, the core's message, and every text of the console blocks
// and of the loader's entries. Shared by the page tests and the page fuzz target; header only,
// because the fuzz target is built apart from the test support library.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/text.h"
#include "discovery.h"
#include "model.h"

namespace gmtest {

// The number of console setups `outside_inputs` knows; any variant is taken modulo this.
inline constexpr unsigned kOutsideVariants = 512;

// A snapshot whose every outside text is the next one `next` gives (called once per text, in a
// fixed order). `variant` picks the setup: LV1 running or not, where each console's identity comes
// from, its find state, connection, console choice, refused module and time since it answered,
// so that across the variants each text reaches every message that quotes it.
inline gm::Inputs outside_inputs(const std::function<std::string()>& next, unsigned variant) {
  using gm_base::copy_text;
  const auto bit = [&variant](int i) { return ((variant % kOutsideVariants) >> i) & 1u; };
  gm::Inputs in;
  in.lv1_installed = true;
  in.lv1_running = bit(0) == 0;
  in.lv1_uptime_ms = in.lv1_running ? 600000 : -1;
  in.lv1_version = next();
  in.loader_ok = in.lv1_running;
  const std::string datagram = "WING," + next();
  if (gm::wing_reply_line(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(),
                          &in.found[0].reply)) {
    in.found[0].found = true;
    in.found[0].ip = gm::field(in.found[0].reply);
  }
  for (int t = 0; t < 2; ++t) {
    in.waves_module[t] = in.installed[t] = in.enabled[t] = in.has_hint[t] = true;
    in.ip[t] = next();
    in.since_answer_ms[t] = bit(1) ? 125000 : -1;
    gm::ConStatus& st = in.status[t];
    st.valid = t == 1 || bit(2);
    st.version = 17;
    st.connected = bit(3);
    st.find_state = (variant >> 4) & 3u;
    st.choice = bit(6) ? 5 : 4;
    st.cand_count = bit(7) ? 2 : 1;
    copy_text(st.text, next());
    copy_text(st.identity, (t == 0 ? "WING," : "X32,") + next());
    copy_text(st.pinned, next());
    copy_text(st.typed_ip, next());
    copy_text(st.answer_id, next());
    copy_text(st.answer_name, next());
    for (gm::ConCandidate& c : st.candidates) {
      copy_text(c.address, next());
      copy_text(c.name, next());
      copy_text(c.model, next());
      copy_text(c.id, next());
      c.sg_card = 1;
    }
    for (int s = 0; s < 4; ++s) {
      st.strip_local[s] = s != 3;
      copy_text(st.strip_group[s], s == 3 ? std::string("LCL") : next());
      st.strip_number[s] = static_cast<uint32_t>(s + 1);
    }
    st.port_count = 1;
    copy_text(st.ports[0].port, next());
    st.ports[0].strips = 2;
    GmLoaderConsole& e = in.loader.consoles[t];
    copy_text(e.key, t == 0 ? "wing" : "x32");
    e.in_slot = 1;
    copy_text(e.running_version, next());
    copy_text(e.module_file, next());
    e.load_error = bit(8);
  }
  return in;
}

}  // namespace gmtest
