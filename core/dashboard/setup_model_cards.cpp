// The page document's console cards (state, texts, details, settings summary, address controls,
// switch-off confirmation) and its four permission rows.
#include <string>
#include <utility>

#include "setup_model.h"
#include "setup_model_page.h"

namespace gm {
namespace {

constexpr const char* kDot = " \xC2\xB7 ";       // " · "
constexpr const char* kDash = " \xE2\x80\x94 ";  // " — "
constexpr const char* kNotNeededDesc =
    "Only macOS 15 and later ask apps about the local network, so on this Mac there is nothing to "
    "allow.";
constexpr const char* kSwitchIn =
    "In System Settings \xE2\x96\xB8 Privacy & Security \xE2\x96\xB8 Local Network, switch ";

struct Row {
  Row(const char* t, std::string d, std::string s = "", int tn = kToneDim)
      : title(t), desc(std::move(d)), state(std::move(s)), tone(tn) {}
  const char* title;
  std::string desc, state;
  int tone;
  std::string btn, action, note;
};

Row app_row(const Inputs& in) {
  Row r{"Gainmesh on the local network",
        "To find your WING or X32 / M32. Without it Gainmesh cannot see any console, even one "
        "that is on."};
  if (!in.ln_privacy) {
    r.state = "Not needed", r.tone = kToneOk, r.desc = kNotNeededDesc;
  } else if (in.net_perm == 1) {
    r.state = "Not asked yet", r.tone = kToneDim;
    r.desc =
        "To find your WING or X32 / M32. macOS asks once \xE2\x80\x94 Allow\xE2\x80\xA6 shows its "
        "prompt now, so it doesn't appear in the middle of a scan.";
    r.btn = "Allow\xE2\x80\xA6", r.action = "allow";
  } else if (in.net_perm == 2) {
    r.state = "Waiting for your answer", r.tone = kToneLv1;
    r.note = "macOS is asking in its own window \xE2\x80\x94 click Allow there.";
  } else if (in.net_perm == 3) {
    r.state = "Blocked", r.tone = kToneBad;
    r.btn = "Open System Settings", r.action = "settings";
    r.note = std::string(kSwitchIn) + "Gainmesh on. Gainmesh looks again by itself once it is.";
  } else if (in.net_perm == 4) {
    r.state = "Allowed", r.tone = kToneOk;
  } else {
    r.state = "No network", r.tone = kToneDim;
    r.desc = "This Mac is not on a network Gainmesh can look on.";
  }
  return r;
}

Row lv1_row(const Page& p) {
  const Inputs& in = p.in;
  Row r{"eMotion LV1 on the local network",
        "Gainmesh runs inside LV1, so LV1 needs it too to reach the console."};
  bool lan_blocked = false, connected = false;
  for (const ConView& v : p.v) {
    lan_blocked = lan_blocked || (v.shown && v.state == ConState::lan_blocked);
    connected = connected || (v.shown && v.state == ConState::connected);
  }
  if (!in.ln_privacy) {
    r.state = "Not needed", r.tone = kToneOk, r.desc = kNotNeededDesc;
  } else if (lan_blocked || (in.lv1_installed && in.lv1_net_switch == 0)) {
    r.state = "Blocked", r.tone = kToneBad;
    r.desc = "Gainmesh runs inside LV1, so no console gets gain or 48V until LV1 is allowed.";
    r.btn = "Open System Settings", r.action = "settings";
    r.note = std::string(kSwitchIn) + "eMotion LV1 on. It applies within seconds, no restart.";
  } else if (!in.lv1_installed) {
    r.state = "LV1 not installed";
  } else if (in.lv1_net_switch == 1 || (in.lv1_running && connected)) {
    r.state = "Allowed", r.tone = kToneOk;
  } else {
    r.state = in.lv1_running ? "Checked once a console answers" : "Checked when LV1 runs";
  }
  return r;
}

Row folder_row(const Inputs& in) {
  Row r{"In the Applications folder", "So Gainmesh can keep itself up to date.", "Yes", kToneOk};
  if (in.outside_applications) {
    r.state = "Not yet", r.tone = kToneWarn;
    r.desc = std::string(in.translocated ? "macOS is running a temporary copy"
                                         : "This copy runs from outside Applications (the disk "
                                           "image, or Downloads)") +
             ", and Gainmesh can't keep itself up to date from there. Quit Gainmesh, drag it to "
             "Applications, open it from there.";
  }
  return r;
}

Row admin_row(const Page& p) {
  Row r{"Administrator approval",
        "macOS asks for your password once, when you first switch a console on.", "Not needed yet",
        kToneDim};
  if (p.in.needs_admin && p.any_installed) {
    r.state = "Given", r.tone = kToneOk;
    r.desc = "macOS asked for your password when Gainmesh was installed.";
  } else if (!p.in.needs_admin) {
    r.state = "Not needed", r.tone = kToneOk;
    r.desc = "LV1's IO Modules folder is yours on this Mac, so installing asks for no password.";
  }
  return r;
}

void write_detail(Json& j, const std::string& k, const std::string& v, bool mono) {
  j.open_object();
  j.kv("k", k);
  j.kv("v", v);
  j.kb("mono", mono);
  j.close_object();
}

std::string without_maker(const std::string& name) {
  for (const char* maker : {"Midas ", "Behringer "}) {
    const std::string m = maker;
    if (name.compare(0, m.size(), m) == 0) return name.substr(m.size());
  }
  return name;
}

void write_details(Json& j, const ConView& v, const ConView& other) {
  j.open_array("details");
  std::string gain;
  if (!v.preamps.empty()) {
    gain = std::to_string(v.preamp_count) + " input" + (v.preamp_count == 1 ? "" : "s") + kDot +
           v.preamps;
  } else {
    gain = v.state == ConState::connected ? "none" : "known once LV1 runs and the console answers";
  }
  write_detail(j, "Gain and 48V", gain, false);
  if (!v.remote.empty()) {
    const std::string s = without_maker(other.name);
    if (other.shown) {
      write_detail(j, "From the " + s,
                   "Local " + v.remote + kDash + "their knobs are on the " + s + "'s strips",
                   false);
    } else {
      write_detail(j, "Remote",
                   "Local " + v.remote + kDash + "controlled from another console over AES50",
                   false);
    }
  }
  write_detail(j, "Card", v.card, false);
  write_detail(j, "Console", v.identity.empty() ? "\xE2\x80\x94" : v.identity, true);
  write_detail(j, "Module", v.module_version.empty() ? "not running" : v.module_version, true);
  j.close_array();
}

std::string confirm_off_body(const ConView& v) {
  if (v.preamp_count <= 0) {
    return "The sound is not affected. Its strips lose their gain and 48V controls in LV1 until "
           "you switch it back on; the console keeps every value it has now.";
  }
  const bool one = v.preamp_count == 1;
  return fit_text("The sound is not affected. Its " + std::to_string(v.preamp_count) + " strip" +
                      (one ? "" : "s") + " lose" + (one ? "s" : "") +
                      " their gain and 48V controls in LV1 until you switch it back on; the " +
                      v.name + " keeps every value it has now.",
                  360);
}

void write_card(Json& j, const ConView& v, const ConView& other) {
  j.open_object();
  j.kn("c", v.type);
  j.kv("name", v.name);
  j.kb("beta", v.is_x32);
  j.kv("meta", v.meta);
  j.kv("status", v.status);
  j.kv("dot", tone_word(v.dot));
  j.kv("edge", tone_word(v.edge));
  j.kn("state", static_cast<int>(v.state));
  j.kb("on", v.enabled || v.legacy);
  j.kb("switchEnabled", !v.legacy && v.state != ConState::shared);
  j.kv("msg", v.msg);
  j.kv("msgTone", tone_word(v.msg_tone));
  j.kb("retry", v.retry);
  j.kb("support", v.support);
  j.kb("blink", v.blink);
  j.kb("installed", v.installed);
  j.kb("recall", v.recall);
  j.kb("resyncLv1", v.resync_lv1);
  j.open_array("cands");
  for (const ConView::Cand& c : v.cands) {
    j.open_object();
    j.kv("head", c.head);
    j.kv("sub", c.sub);
    j.kb("card", c.card);
    j.kv("id", c.id);
    j.close_object();
  }
  j.close_array();
  write_details(j, v, other);
  j.kv("recallDesc",
       "Opening a session \xE2\x80\x94 or LV1 starting on Previous Session or Last State "
       "\xE2\x80\x94"
       " sends its saved gain and 48V to the " +
           v.name + ".");
  j.kv("dropTitle", "When the " + v.name + " comes back after a dropout");
  j.kv("dropDesc", "Scene recall always applies, within LV1's own recall-safe.");
  j.kv("summary",
       std::string("Recall with sessions: ") + (v.recall ? "on" : "off") + kDot +
           "After a dropout: " + (v.resync_lv1 ? "resend LV1 values" : "keep desk values"));
  j.key("addr");
  write_addr(j, v);
  j.open_object("confirmOff");
  j.kv("title", "Switch the " + v.name + " off?");
  j.kv("body", confirm_off_body(v));
  j.kv("ok", "Switch off");
  j.close_object();
  j.close_object();
}

}  // namespace

void write_perm(Json& j, const Page& p) {
  const Row rows[4] = {app_row(p.in), lv1_row(p), folder_row(p.in), admin_row(p)};
  int blocked = 0, to_fix = 0;
  for (const Row& r : rows) {
    blocked += r.tone == kToneBad;
    to_fix += r.tone == kToneWarn;
  }
  std::string summary = "all allowed";
  int tone = kToneOk;
  if (blocked > 0) {
    summary = std::to_string(blocked) + " blocked", tone = kToneBad;
  } else if (p.in.net_perm == 2) {
    summary = "waiting for your answer", tone = kToneLv1;
  } else if (p.in.net_perm == 1) {
    summary = "1 to allow", tone = kToneLv1;
  } else if (to_fix > 0) {
    summary = std::to_string(to_fix) + " to fix", tone = kToneWarn;
  }
  j.open_object("perm");
  j.kb("open", tone != kToneOk);
  j.kv("summary", summary);
  j.kv("tone", tone_word(tone));
  j.open_array("rows");
  for (const Row& r : rows) {
    j.open_object();
    j.kv("title", r.title);
    j.kv("desc", r.desc);
    j.kv("state", r.state);
    j.kv("tone", tone_word(r.tone));
    j.kv("btn", r.btn);
    j.kv("action", r.action);
    j.kv("note", r.note);
    j.close_object();
  }
  j.close_array();
  j.close_object();
}

void write_cards(Json& j, const Page& p) {
  j.open_array("cards");
  for (int c = 0; c < 2; ++c) {
    if (p.v[c].shown) write_card(j, p.v[c], p.v[1 - c]);
  }
  j.close_array();
}

void write_addr(Json& j, const ConView& v) {
  j.open_object();
  j.kv("set", v.addr_set);
  j.kb("can", v.addr_can);
  j.kb("band", v.addr_band);
  j.kv("btn", v.addr_btn);
  j.kv("short", v.addr_set.empty() ? "Set\xE2\x80\xA6" : "Change\xE2\x80\xA6");
  j.kv("desc", v.addr_desc);
  j.kv("title", "Address of the " + v.name);
  j.kv(
      "body",
      "Gainmesh finds the console by itself on most networks. If it can't \xE2\x80\x94 the console "
      "is on another subnet or VLAN, or the network blocks broadcasts \xE2\x80\x94 type the IP "
      "address on the console's Setup \xE2\x96\xB8 Network page. Gainmesh asks that address which "
      "console it is before it drives anything.");
  j.kv("placeholder", "e.g. 192.168.1.20");
  j.close_object();
}

}  // namespace gm
