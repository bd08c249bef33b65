// Building one console's view from a snapshot: identity, card line and details, then the state
// (the first rule that matches wins), then the address controls and the notes that only fill an
// otherwise empty message.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model.h"
#include "model_states.h"
#include "util.h"

namespace gm {
namespace {

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  size_t from = 0;
  for (;;) {
    const size_t comma = s.find(',', from);
    out.push_back(s.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
    if (comma == std::string::npos) return out;
    from = comma + 1;
  }
}

std::string short_firmware(std::string fw) {
  fw = fw.substr(0, fw.find(':'));
  return fw.substr(0, fw.find("-g"));
}

// Address, name, identity and firmware from the status block's discovery line, else the scan's.
void take_identity(ViewCtx& c, ConView& v) {
  const ConStatus& st = c.st;
  std::string line;
  if (st.valid && st.identity[0]) {
    line.assign(st.identity, strnlen(st.identity, sizeof st.identity));
  } else if (c.in.found[c.type].found) {
    line = c.in.found[c.type].reply;
  }
  if (!line.empty()) {
    const std::vector<std::string> f = split(line);
    if (f.size() > 1) v.address = f[1];
    if (f.size() > 2) c.own_name = f[2];
    if (f.size() > 3) v.name = pretty_model(c.type, f[3]);
    if (c.type == 0) {
      if (f.size() > 4) v.identity = f[4];
      if (f.size() > 5) v.firmware = f[5];
    } else {
      if (f.size() > 4) v.firmware = f[4];
      if (f.size() > 2) v.identity = f[2];
    }
  }
  if (v.name.empty()) v.name = short_name(c.type);
  v.firmware = short_firmware(v.firmware);
}

void take_card(const ViewCtx& c, ConView& v) {
  if (c.type == 0) {
    v.card = "WSG card";
  } else {
    const bool dn32 = c.le && (c.le->card_kind == 1 || c.le->card_kind == 4);
    v.card = dn32 ? "DN32-WSG card" : "X-WSG card";
  }
  v.meta = v.card;
  if (!v.address.empty()) v.meta += " · " + v.address;
  if (!v.firmware.empty()) v.meta += " · fw " + v.firmware;
}

void take_details(const ViewCtx& c, ConView& v) {
  if (v.installed) {
    v.recall = c.in.recall[c.type];
    v.resync_lv1 = c.in.resync_lv1[c.type];
  }
  if (c.st.valid) v.preamps = preamp_summary(c.st, &v.preamp_count);
  if (c.type == 0 && c.st.valid && c.st.connected) v.remote = remote_inputs(c.st);
  if (c.le && c.le->running_version[0]) {
    v.module_version.assign(c.le->running_version,
                            strnlen(c.le->running_version, sizeof c.le->running_version));
  }
}

bool decide_shown(const ViewCtx& c, const ConView& v) {
  if (!v.waves_module) return false;
  const bool block_identity = c.st.valid && c.st.identity[0];
  if (c.in.found[c.type].found || v.legacy || block_identity) return true;
  return v.enabled && (c.in.has_hint[c.type] || (c.le && c.le->in_slot));
}

void address_controls(const ViewCtx& c, ConView& v) {
  v.addr_set = c.in.ip[c.type];
  if (!v.installed || v.legacy) {
    v.addr_can = false;
    return;
  }
  v.addr_can = v.state != ConState::shared;
  if (!v.addr_can) return;
  const bool typed = !v.addr_set.empty();
  v.addr_btn = typed ? "Change address…" : "Set address…";
  if (typed) {
    v.addr_desc = v.addr_set +
                  ", typed here. Gainmesh asks that address first, and checks which console "
                  "answers.";
  } else if (!v.address.empty()) {
    v.addr_desc = "Found automatically, at " + v.address + ".";
  } else {
    v.addr_desc = "Found automatically on the network.";
  }
  v.addr_band = v.state == ConState::not_answering || v.state == ConState::wrong_console;
  if (v.state == ConState::not_answering && !typed && v.address.empty()) {
    v.msg =
        "Not answering. Is it powered and on this network? If it is on another subnet or VLAN, "
        "set its address. Trying again every few seconds.";
  }
}

void extra_cards_note(const ViewCtx& c, ConView& v) {
  const Inputs& in = c.in;
  if (!in.loader_ok || !in.lv1_running || !v.enabled || !v.msg.empty()) return;
  const uint32_t n = in.loader.extra_cards[c.type];
  if (n == 0) return;
  const bool one = n == 1;
  v.msg = "LV1 has " + std::string(one ? "another " : "more ") + v.card + (one ? "" : "s") +
          " in a rack slot. Gainmesh drives one " + short_name(c.type) + " per LV1, so " +
          (one ? "that card's" : "those cards'") + " strips have no gain or 48V.";
  v.msg_tone = kToneWarn;
}

void connected_notes(const ViewCtx& c, ConView& v) {
  if (v.state != ConState::connected || !c.st.valid) return;
  if (c.format17 && c.st.addr_followed && v.msg.empty()) {
    v.msg = "Its address changed while LV1 was running; Gainmesh followed it" +
            (v.address.empty() ? std::string(".") : " to " + v.address + ".");
  }
  const std::string note = empty_port_note(c.st, v.name, v.card);
  if (note.empty()) return;
  v.msg = v.msg.empty() ? note : note + " " + v.msg;
  v.msg_tone = kToneWarn;
}

}  // namespace

ConView build_view(int type, const Inputs& in) {
  type = type == 1 ? 1 : 0;
  const GmLoaderConsole* le = nullptr;
  if (in.loader_ok && in.loader.consoles[type].key[0]) le = &in.loader.consoles[type];
  ViewCtx c{type, in, in.status[type], le, "", false};
  c.format17 = c.st.valid && c.st.version >= 17;

  ConView v;
  v.type = type;
  v.is_x32 = type == 1;
  v.waves_module = in.waves_module[type];
  v.installed = in.installed[type];
  v.enabled = in.enabled[type];
  v.legacy = in.legacy[type];
  take_identity(c, v);
  take_card(c, v);
  take_details(c, v);
  v.shown = decide_shown(c, v);
  decide_state(c, v);
  v.status = status_text(v.state, in.platform, c.st.valid && c.st.connected);
  address_controls(c, v);
  extra_cards_note(c, v);
  connected_notes(c, v);
  return v;
}

}  // namespace gm
