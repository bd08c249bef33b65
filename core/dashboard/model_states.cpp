// The console's state: the rules in order of precedence, each with its tones and message, and
// the short status text of every state.
#include "model_states.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "util.h"

namespace gm {
namespace {

template <size_t N>
std::string text_of(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

void set(ConView& v, ConState s, Tone dot, Tone edge, Tone msg_tone = kToneDim) {
  v.state = s;
  v.dot = dot;
  v.edge = edge;
  v.msg_tone = msg_tone;
}

// " · SoundGrid card", " · no SoundGrid card" or nothing.
std::string card_suffix(int32_t sg_card) {
  if (sg_card > 0) return " · SoundGrid card";
  if (sg_card == 0) return " · no SoundGrid card";
  return "";
}

// The loader refused a new module while an older one keeps running.
std::string failed_version(const GmLoaderConsole& le) {
  std::string f = text_of(le.module_file);
  const size_t dash = f.find('-');
  if (dash != std::string::npos) f.erase(0, dash + 1);
  for (const char* ext : {".dylib", ".dll"}) {
    const size_t n = strlen(ext);
    if (f.size() >= n && f.compare(f.size() - n, n, ext) == 0) {
      f.erase(f.size() - n);
      break;
    }
  }
  return f;
}

void shared_state(const ViewCtx&, ConView& v) {
  set(v, ConState::shared, kToneDim, kToneDim);
  v.msg = "This LV1 uses the " + v.card +
          " through Waves IO Sharing. The LV1 that owns it controls the " + v.name +
          "'s preamps, so Gainmesh stays hands-off here.";
}

void refinding(const ViewCtx& c, ConView& v) {
  set(v, ConState::refinding, kToneBad, kToneBad, kToneBad);
  v.retry = true;
  const int64_t since = c.in.since_answer_ms[c.type];
  v.msg = v.address.empty() ? "No answer" : "No answer at " + v.address;
  if (since >= 0) v.msg += " for " + since_text(since);
  v.msg += ". Gainmesh is looking for this same " + v.name +
           (c.own_name.empty() ? "" : " (" + c.own_name + ")") +
           " at any address, in case its address changed, and reconnects where it answers. Gain "
           "and 48V on its strips are inert; audio is untouched.";
}

void wrong_console(const ViewCtx& c, ConView& v) {
  const ConStatus& st = c.st;
  set(v, ConState::wrong_console, kToneWarn, kToneWarn, kToneWarn);
  const std::string type_name = short_name(c.type);
  v.name = type_name;
  v.meta = v.card;
  const std::string id = text_of(st.answer_id), pinned = text_of(st.pinned);
  const std::string typed = text_of(st.typed_ip);
  const std::string a = st.answer_name[0] ? text_of(st.answer_name) : id;
  const std::string p = pinned.empty() ? "the one chosen in Setup" : pinned;
  v.msg = typed + ", the address set for it, answers as " + a + ", not the " + type_name +
          " chosen for this LV1 (" + p + "). Gainmesh won't drive it, and is looking for " +
          (pinned.empty() ? "that one" : pinned) + " on the network instead. If " + a +
          " is this LV1's console, use it.";
  ConView::Cand cand{a, typed, id, false};
  for (uint32_t i = 0; i < st.cand_count && i < 6; ++i) {
    const ConCandidate& r = st.candidates[i];
    if (text_of(r.id) != id) continue;
    cand.sub = pretty_model(c.type, text_of(r.model)) + " · " + typed + card_suffix(r.sg_card);
    cand.card = r.sg_card > 0;
    break;
  }
  v.cands.push_back(cand);
}

void not_answering_typed(const ViewCtx& c, ConView& v) {
  set(v, ConState::not_answering, kToneWarn, kToneWarn, kToneWarn);
  v.retry = true;
  const std::string pinned = text_of(c.st.pinned);
  v.msg = "Nothing answers at " + text_of(c.st.typed_ip) + ", the address set for it. " +
          (pinned.empty()
               ? "Is it powered, and is that still its address? Trying again every "
                 "few seconds."
               : "Gainmesh is also looking for " + pinned + " everywhere else on the network.");
}

void choose(const ViewCtx& c, ConView& v) {
  const ConStatus& st = c.st;
  set(v, ConState::choose, kToneWarn, kToneWarn, kToneWarn);
  const char* type_name = short_name(c.type);
  v.name = type_name;
  v.meta = v.card;
  const uint32_t n = st.cand_count < 6 ? st.cand_count : 6;
  char b[320];
  if (st.choice == 5) {
    snprintf(b, sizeof b,
             "The %s chosen for this LV1 (%s) is not on the network. Gainmesh drives none of the "
             "others until you choose one.",
             type_name, text_of(st.pinned).c_str());
  } else if (n == 1) {
    snprintf(b, sizeof b,
             "The only %s that answered has no SoundGrid card, so it is probably not this LV1's "
             "console. If it is, choose it — until then Gainmesh drives nothing.",
             type_name);
  } else {
    snprintf(b, sizeof b,
             "%u %ss answered. Choose the one whose card is in this LV1 — until then Gainmesh "
             "drives none of them.",
             n, c.type == 0 ? "WING" : "X32 / M32 desk");
  }
  v.msg = b;
  for (uint32_t i = 0; i < n; ++i) {
    const ConCandidate& r = st.candidates[i];
    const std::string address = text_of(r.address);
    ConView::Cand cand;
    cand.head = r.name[0] ? text_of(r.name) : address;
    cand.sub = pretty_model(c.type, text_of(r.model)) + " · " + address + card_suffix(r.sg_card);
    cand.id = text_of(r.id);
    cand.card = r.sg_card > 0;
    v.cands.push_back(cand);
  }
}

void no_slot(ConView& v) {
  set(v, ConState::no_slot, kToneWarn, kToneWarn, kToneWarn);
  v.msg =
      "Its strips have no knobs until the card is in a rack slot. In LV1: Setup ▸ System "
      "Inventory ▸ assign the " +
      v.card + ".";
}

void not_answering(ConView& v) {
  set(v, ConState::not_answering, kToneWarn, kToneWarn, kToneWarn);
  v.retry = true;
  v.msg = (v.address.empty() ? std::string("Not answering") : "Not answering at " + v.address) +
          ". Is it powered and on this network? Trying again every few seconds.";
}

// The rules that follow the module's own reports about the console.
bool console_reports(const ViewCtx& c, ConView& v) {
  const ConStatus& st = c.st;
  const Inputs& in = c.in;
  const GmLoaderConsole* le = c.le;
  const bool silent = st.valid && !st.connected;
  if (st.valid && strstr(st.text, "local network") && in.ln_privacy && in.lv1_net_switch != 1) {
    set(v, ConState::lan_blocked, kToneBad, kToneBad, kToneBad);
    v.msg =
        "macOS is not letting eMotion LV1 onto the local network, so Gainmesh inside it "
        "cannot reach the " +
        v.name +
        ". In System Settings ▸ Privacy & Security ▸ Local Network, switch eMotion LV1 on — "
        "it applies within seconds.";
  } else if (st.valid && strstr(st.text, "refused")) {
    set(v, ConState::refused, kToneWarn, kToneWarn, kToneWarn);
    v.retry = true;
    v.msg = "The " + v.name + " refused the control link. Close " +
            (c.type == 0 ? "WING Edit" : "X32-Edit / M32-Edit") +
            " or any other app connected to it; otherwise a firewall on this " +
            (in.platform == 1 ? "PC" : "Mac") +
            " is blocking Gainmesh. Trying again every few seconds.";
  } else if (silent && c.format17 && st.find_state == 1) {
    refinding(c, v);
  } else if (silent && in.since_answer_ms[c.type] >= 5001) {
    set(v, ConState::lost, kToneBad, kToneBad, kToneBad);
    v.retry = true;
    v.msg = "No answer for " + since_text(in.since_answer_ms[c.type]) +
            ". Gain and 48V on its strips are inert; audio is untouched. When it answers, the "
            "desk's values stand.";
  } else if (le && le->load_error && le->running_version[0]) {
    set(v, ConState::update_blocked, kToneWarn, kToneWarn, kToneWarn);
    v.retry = v.support = true;
    const std::string version = failed_version(*le);
    v.msg = (in.platform == 1 ? "Windows blocked the update to " + version + "."
                              : "The update to " + version + " would not load.") +
            " Gainmesh keeps running " + text_of(le->running_version) +
            " — nothing on the strip changed.";
  } else if (silent && c.format17 && st.find_state == 3 && st.answer_id[0]) {
    wrong_console(c, v);
  } else if (silent && c.format17 && st.find_state == 2 && st.typed_ip[0]) {
    not_answering_typed(c, v);
  } else if (silent && st.cand_count > 0 && (st.choice == 4 || st.choice == 5)) {
    choose(c, v);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string since_text(int64_t ms) {
  char b[32];
  if (ms < 90000) {
    snprintf(b, sizeof b, "%ld s", static_cast<long>(ms / 1000));
  } else {
    snprintf(b, sizeof b, "%ld min", static_cast<long>(ms / 60000));
  }
  return b;
}

void decide_state(const ViewCtx& c, ConView& v) {
  const Inputs& in = c.in;
  const ConStatus& st = c.st;
  const GmLoaderConsole* le = c.le;
  if (in.shared[c.type]) return shared_state(c, v);
  if (v.legacy) {
    set(v, ConState::legacy, st.valid && st.connected ? kToneOk : kToneDim, kToneLv1);
    v.msg = "Running on Gainmesh 2 until you update.";
    return;
  }
  if (!v.enabled) {
    set(v, ConState::off, kToneDim, kToneDim);
    if (v.installed) v.msg = "LV1 uses Waves' stock module for this card. Settings are kept.";
    return;
  }
  if (!in.lv1_running) return set(v, ConState::waiting_lv1, kToneDim, kToneDim);
  if (in.loader_blocked) return set(v, ConState::not_loaded, kToneBad, kToneBad);
  if (le && !le->running_version[0] && le->load_error) {
    set(v, ConState::load_failed, kToneBad, kToneBad, kToneBad);
    v.support = true;
    v.msg = std::string(in.platform == 1 ? "Windows blocked" : "macOS would not load") +
            " this console's Gainmesh module, so its strips have no gain or 48V. LV1 and its "
            "audio are fine.";
    return;
  }
  if (console_reports(c, v)) return;
  const bool up30 = in.lv1_uptime_ms >= 30000;
  const bool out_of_slot = le && !le->in_slot;
  if ((!st.valid || !st.connected) && up30) {
    if (out_of_slot && !st.valid) return no_slot(v);
    return not_answering(v);
  }
  if (up30 && out_of_slot) return no_slot(v);
  if (st.valid && st.connected) return set(v, ConState::connected, kToneOk, kToneLv1);
  set(v, ConState::looking, kToneDim, kToneDim);
}

std::string status_text(ConState state, int32_t platform, bool legacy_connected) {
  const bool windows = platform == 1;
  switch (state) {
    case ConState::not_loaded:
      return windows ? "Blocked by Windows" : "Not loaded in LV1";
    case ConState::lost:
      return "Lost contact";
    case ConState::refused:
      return "Refused";
    case ConState::update_blocked:
      return "Update blocked";
    case ConState::load_failed:
      return windows ? "Blocked by Windows" : "Would not load";
    case ConState::not_answering:
      return "Not answering";
    case ConState::no_slot:
      return "Not in a rack slot";
    case ConState::looking:
      return "Looking for it…";
    case ConState::waiting_lv1:
      return "On · waiting for LV1";
    case ConState::legacy:
      return legacy_connected ? "Connected · Gainmesh 2" : "Gainmesh 2";
    case ConState::connected:
      return "Connected";
    case ConState::off:
      return "";
    case ConState::choose:
      return "Choose the console";
    case ConState::lan_blocked:
      return "Blocked by macOS";
    case ConState::shared:
      return "Shared from another LV1";
    case ConState::refinding:
      return "Looking for it again";
    case ConState::wrong_console:
      return "Another console at its address";
  }
  return "";
}

}  // namespace gm
