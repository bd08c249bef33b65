// The page document: its top-level keys in order, the pill, the setup steps, LV1's object, the
// notice, the empty-page objects and the confirmations. Cards and permissions are in
// setup_model_cards.cpp.
#include "setup_model.h"

#include <cctype>
#include <string>

#include "setup_model_page.h"

namespace gm {
namespace {

constexpr const char* kDot = " \xC2\xB7 ";  // " · "
constexpr const char* kEllipsis = "\xE2\x80\xA6";
constexpr const char* kCloseLv1First =
    "Close eMotion LV1 first \xE2\x80\x94 the button enables itself.";

bool is_state(const ConView& v, ConState s) {
  return v.state == s;
}

std::string lower_first(std::string s) {
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

struct Pill {
  std::string text;
  int tone = kToneDim;
  bool edge = false;
};

Pill with_tone(std::string text, int tone) {
  return {std::move(text), tone, tone == 2 || tone == 3};
}

Pill pill(const Page& p) {
  const Inputs& in = p.in;
  if (in.loader_blocked) {
    return {in.platform == 1 ? "Windows blocked Gainmesh" : "Gainmesh not loaded in LV1", 3, true};
  }
  if (in.net_perm == 2) return {"Waiting for macOS", 0, false};
  if (in.net_perm == 3) return {"Blocked by macOS", 3, true};
  if (in.net_perm == 1 && p.count == 0) return {"Not set up yet", 0, false};
  if (p.count == 0) return {"No console found", 2, true};
  if (!p.any_installed && !in.legacy_any) return {"Not set up yet", 0, false};
  const ConView& w = p.v[p.worst];
  if (p.both_attention) return with_tone("2 consoles need attention", w.dot);
  const ConView& o = p.v[1 - p.worst];
  if (is_state(w, ConState::connected) &&
      (!o.shown || is_state(o, ConState::connected) || is_state(o, ConState::off))) {
    const bool all = o.shown && is_state(o, ConState::connected);
    return with_tone(all ? "All consoles connected" : w.name + kDot + "connected", w.dot);
  }
  return with_tone(w.name + kDot + (w.status.empty() ? "off" : lower_first(w.status)), w.dot);
}

void write_header(Json& j, const Page& p, const Pill& pl) {
  const std::string lv1 = p.in.lv1_version.empty() ? "not found" : p.lv1_short;
  j.open_object("header");
  j.kv("sub", fit_text(std::to_string(p.count) + " console" + (p.count == 1 ? "" : "s") + kDot +
                           "eMotion LV1 " + lv1,
                       128));
  j.kv("pill", pl.text);
  j.kv("tone", tone_word(pl.tone));
  j.kb("edge", pl.edge);
  j.close_object();
  j.open_object("menu");
  j.kv("state", pl.text);
  j.kv("tone", tone_word(pl.tone));
  j.close_object();
}

void write_step(Json& j, bool done, bool active, const std::string& title,
                const std::string& detail, bool start, bool install) {
  j.open_object();
  j.kb("done", done);
  j.kb("active", active);
  j.kv("title", title);
  j.kv("detail", detail);
  j.kb("start", start);
  j.kb("install", install);
  j.close_object();
}

void write_steps(Json& j, const Page& p) {
  const Inputs& in = p.in;
  j.open_array("steps");
  const bool all_set = p.any_installed && p.loaded && p.slot_any;
  if (!in.legacy_any && p.count > 0 && !in.loader_blocked && !all_set) {
    const int active = !p.any_installed ? 0 : !p.loaded ? 1 : 2;
    std::string names;
    if (p.v[0].shown) names = p.v[0].name;
    if (p.v[1].shown) names += (names.empty() ? "" : " and ") + p.v[1].name;
    write_step(j, p.any_installed, active == 0, "Install Gainmesh in LV1",
               p.any_installed ? ""
                               : "Switches the " + names +
                                     " on. Each switches off and on later, even while LV1 runs.",
               false, !p.any_installed);
    const bool reopen = p.any_installed && in.lv1_running && !in.loader_ok;
    write_step(j, p.loaded, active == 1,
               reopen ? "Close and reopen eMotion LV1, so it loads Gainmesh"
                      : "Open eMotion LV1" + (in.lv1_version.empty() ? "" : " v" + in.lv1_version),
               "", in.lv1_installed && !in.lv1_running, false);
    write_step(j, p.slot_any, active == 2, "Assign the card to a rack slot",
               "In LV1: Setup \xE2\x96\xB8 System Inventory. Ticks itself once LV1 reports it.",
               false, false);
  }
  j.close_array();
}

void write_lv1(Json& j, const Page& p) {
  const Inputs& in = p.in;
  j.open_object("lv1");
  j.kb("found", !in.lv1_version.empty());
  j.kv("version", in.lv1_version);
  j.kb("up", in.lv1_running);
  j.kb("canStart", in.lv1_installed && !in.lv1_running);
  j.open_array("slots");
  if (in.lv1_running && in.loader_ok) {
    for (const ConView& v : p.v) {
      if (!v.shown || !v.enabled) continue;
      const bool ok = in.loader.consoles[v.type].in_slot != 0;
      j.open_object();
      j.kb("ok", ok);
      j.kv("text", v.card + (ok ? " \xC2\xB7 in a rack slot" : " \xC2\xB7 not in a rack slot"));
      j.close_object();
    }
  }
  j.close_array();
  j.close_object();
}

void write_notice(Json& j, const Page& p) {
  const Inputs& in = p.in;
  const char *kind, *head, *body, *btn = "", *action = "", *note = "";
  bool enabled = !in.lv1_running;
  if (in.loader_blocked) {
    kind = "bad";
    head = in.platform == 1
               ? "Windows blocked Gainmesh \xE2\x80\x94 LV1 runs without preamp control"
               : "Gainmesh did not load into LV1 \xE2\x80\x94 LV1 runs without preamp control";
    body =
        "LV1 and its audio are fine. No console gets gain or 48V on the strip until Gainmesh is "
        "reinstalled.";
    btn = "Reinstall Gainmesh";
    action = "reinstall";
    note = kCloseLv1First;
  } else if (in.legacy_any) {
    kind = "lv1";
    head = "Update to Gainmesh 3";
    body =
        "Gainmesh 2 keeps working until you do \xE2\x80\x94 there is no need to stop a show for "
        "this. The update moves every console into Gainmesh's own bundle and keeps their "
        "settings.";
    btn = "Update to Gainmesh 3";
    action = "update3";
    note = kCloseLv1First;
  } else if (in.lv1_running && p.any_installed && in.update_waiting) {
    kind = "info";
    head = "Gainmesh update ready";
    body = "It applies by itself the next time you close LV1.";
    enabled = false;
  } else {
    return;
  }
  j.open_object("notice");
  j.kv("kind", kind);
  j.kv("head", head);
  j.kv("body", body);
  j.kv("btn", btn);
  j.kv("action", action);
  j.kb("enabled", enabled);
  j.kv("note", note);
  j.close_object();
}

void write_nothing(Json& j, const Page& p) {
  const int perm = p.in.net_perm;
  const bool gate = p.count == 0 && (perm == 1 || perm == 2 || perm == 3);
  const bool nothing = p.count == 0 && !gate;
  j.kb("nothing", nothing);
  j.kb("installAnyway", nothing && !p.any_installed && !p.in.legacy_any && !p.in.loader_blocked &&
                            p.in.lv1_installed);
  j.open_array("nothingAddr");
  for (int c = 0; nothing && c < 2; ++c) {
    if (!p.v[c].addr_can || p.v[c].shown) continue;
    j.open_object();
    j.kn("c", c);
    j.kv("btn", std::string(c == 0 ? "WING address" : "X32 / M32 address") + kEllipsis);
    j.key("addr");
    write_addr(j, p.v[c]);
    j.close_object();
  }
  j.close_array();
  if (!gate) return;
  j.open_object("netGate");
  if (perm == 2) {
    j.kv("kind", "info");
    j.kv("head", "Waiting for your answer");
    j.kv("body",
         "macOS is asking whether Gainmesh may find devices on your local network. Click Allow in "
         "its window, and Gainmesh starts looking.");
  } else if (perm == 3) {
    j.kv("kind", "bad");
    j.kv("head", "Gainmesh can't look for consoles");
    j.kv("body",
         "macOS is blocking Gainmesh from the local network, so no console can answer. Allow it in "
         "macOS Permissions and this list fills in.");
  } else {
    j.kv("kind", "info");
    j.kv("head", "Allow Gainmesh on the local network to look for consoles");
    j.kv("body",
         "Open macOS Permissions and press Allow\xE2\x80\xA6 there. macOS asks once; then Gainmesh "
         "looks for a WING and an X32 / M32 on every network this Mac is on.");
  }
  j.close_object();
}

void write_confirm(Json& j, const Page& p, const char* key, const char* title, const char* body,
                   const char* ok) {
  j.open_object(key);
  j.kv("title", title);
  j.kv("body", body);
  j.kv("ok", ok);
  j.open_array("list");
  for (const ConView& v : p.v) {
    if (!v.installed && !v.legacy) continue;
    j.open_object();
    j.kv("name", v.name);
    j.kv("card", v.card);
    j.kb("beta", v.is_x32);
    j.close_object();
  }
  j.close_array();
  j.close_object();
}

void write_confirms(Json& j, const Page& p) {
  write_confirm(
      j, p, "confirmRemove",
      p.in.platform == 1 ? "Remove Gainmesh from this computer?" : "Remove Gainmesh from this Mac?",
      "These consoles' strips lose their gain and 48V controls; LV1 runs their cards on "
      "Waves' stock modules. The sound is not affected and the consoles keep their "
      "values.",
      "Remove Gainmesh");
  if (p.in.legacy_any) {
    write_confirm(j, p, "confirmUpdate", "Update to Gainmesh 3",
                  "Moves every console into Gainmesh's own bundle and keeps their settings. "
                  "Waves' files go back to stock.",
                  "Update to Gainmesh 3");
  }
}

void write_tail(Json& j, const Page& p, const PageExtras& x) {
  const std::string& m = x.message;
  j.kv("message", m);
  j.kb("messageBad", m.find("Could not") != std::string::npos ||
                         m.find("would not") != std::string::npos ||
                         m.find("did not") != std::string::npos);
  j.kb("anyInstalled", p.any_installed);
  j.kb("legacyAny", p.in.legacy_any);
  j.kb("lv1Up", p.in.lv1_running);
  j.kv("version", "Gainmesh " + x.version);
  j.kb("busy", x.busy);
  if (!x.demo) return;
  j.kv("fakeModal", x.fake_modal);
  j.kn("fakeModalCon", x.fake_modal_con);
  j.open_array("fakeOpen");
  j.flag(x.fake_open[0]);
  j.flag(x.fake_open[1]);
  j.close_array();
}

}  // namespace

Page::Page(const Inputs& inputs) : in(inputs), v{build_view(0, inputs), build_view(1, inputs)} {
  count = v[0].shown + v[1].shown;
  if (v[0].shown && v[1].shown) {
    worst = worst_rank(static_cast<int>(v[1].state)) < worst_rank(static_cast<int>(v[0].state));
    both_attention = needs_attention(static_cast<int>(v[0].state)) &&
                     needs_attention(static_cast<int>(v[1].state));
  } else if (count == 1) {
    worst = v[0].shown ? 0 : 1;
  }
  any_installed = v[0].installed || v[1].installed;
  slot_any = in.loader_ok && (in.loader.consoles[0].in_slot || in.loader.consoles[1].in_slot);
  loaded = in.loader_ok && in.lv1_running;
  const size_t dot1 = in.lv1_version.find('.');
  const size_t dot2 = dot1 == std::string::npos ? dot1 : in.lv1_version.find('.', dot1 + 1);
  lv1_short = "v" + in.lv1_version.substr(0, dot2);
}

const char* tone_word(int tone) {
  static const char* const kWords[] = {"dim", "ok", "warn", "bad", "lv1"};
  return tone >= 0 && tone <= 4 ? kWords[tone] : "dim";
}

std::string fit_text(std::string text, size_t max_bytes) {
  if (max_bytes == 0) return "";
  if (text.size() < max_bytes) return text;
  size_t n = max_bytes - 1;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  text.resize(n);
  return text;
}

std::string page_json(const Inputs& in, const PageExtras& extras) {
  const Page p(in);
  const Pill pl = pill(p);
  Json j;
  j.open_object();
  write_header(j, p, pl);
  write_steps(j, p);
  write_lv1(j, p);
  write_perm(j, p);
  write_notice(j, p);
  write_nothing(j, p);
  write_cards(j, p);
  write_confirms(j, p);
  write_tail(j, p, extras);
  j.close_object();
  return j.take();
}

}  // namespace gm
