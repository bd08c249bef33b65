// The discover thread: finds the desk (at the address typed in Setup or by broadcast), adopts it,
// and afterwards, while the control link stays down, looks for the same console at other
// addresses and hands the watch thread a new address to move the link to.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.h"
#include "bridge_cfg.h"
#include "bridge_state.h"
#include "bridge_status.h"
#include "bridge_threads.h"
#include "desk_choose.h"
#include "desk_wing.h"
#include "module_log.h"

namespace gm {
namespace {

constexpr int kScanMax = 8;
constexpr int kScanMs = 1200;
constexpr int kQuickSweeps = 15;
constexpr uint32_t kQuickPaceMs = 4000;
constexpr uint32_t kSlowPaceMs = 15000;
constexpr uint32_t kRefindTickMs = 1000;

const char* card_text(int card) { return card > 0 ? "yes" : card == 0 ? "no" : "unknown"; }
const char* card_text_ip(int card) { return card > 0 ? "yes" : card == 0 ? "NO" : "unknown"; }

std::string label_of(const DeskFound& d) { return d.name[0] ? d.name : d.id[0] ? d.id : d.ip; }

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[512];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

void adopt(const DeskFound& d) {
  desk()->adopt(&d);
  desk_found(d);
}

// The bookkeeping of the address typed in Setup, across sweeps.
struct IpBook {
  std::string ip;
  int silent = 0;
  int last_verdict = -1;
  std::string last_id;
};

enum class IpOutcome { kAdopted, kBroadcast, kWait };

IpOutcome sweep_at_ip(const std::string& ip, IpBook& book, std::string& note) {
  if (book.ip != ip) {
    book = IpBook{};
    book.ip = ip;
  }
  const std::string console = cfg_console();
  DeskFound found[kScanMax];
  const int n = desk()->scan(ip.c_str(), found, kScanMax, kScanMs);
  const DeskFound* at = n > 0 ? &found[0] : nullptr;
  book.silent = at ? 0 : book.silent + 1;
  bridge_set_ip_answer(at ? IpAnswer{at->id, label_of(*at)} : IpAnswer{});
  const int verdict = manual_ip_verdict(at, console.c_str(), book.silent);
  const std::string id = at ? at->id : "";
  const bool changed = verdict != book.last_verdict || id != book.last_id;
  book.last_verdict = verdict;
  book.last_id = id;
  switch (verdict) {
    case 0:
      logf("[ip] %s answers: %s %s, id %s, SoundGrid card %s - using it (%s)", ip.c_str(),
           at->model, at->name, at->id, card_text_ip(at->card),
           console.empty() ? "no console= to check it against" : "it is the console chosen in Setup");
      adopt(*at);
      return IpOutcome::kAdopted;
    case 1:
      if (changed) {
        logf("[ip] %s answers as %s %s, id %s - but console= is %s: NOT connecting to it. Looking "
             "for %s everywhere instead",
             ip.c_str(), at->model, at->name, at->id, console.c_str(), console.c_str());
      }
      note = format("%s is %s - not the console chosen in Setup", ip.c_str(), label_of(*at).c_str());
      bs().find_state = GM_FIND_IP_OTHER;
      return IpOutcome::kBroadcast;
    case 2:
      if (changed) {
        logf("[ip] nothing answers at %s - looking everywhere for console= %s", ip.c_str(),
             console.c_str());
      }
      note = format("Nothing answers at %s, the address set for this console", ip.c_str());
      bs().find_state = GM_FIND_IP_SILENT;
      return IpOutcome::kBroadcast;
    case 4: {
      logf("[ip] nothing answered the console question at %s in %d sweeps - connecting there "
           "UNCHECKED, as ip= always has (a TCP-only path cannot answer it). No console= to check "
           "against; no re-find this session",
           ip.c_str(), book.silent);
      DeskFound only{};
      gm_base::copy_text(only.ip, sizeof only.ip, ip);
      only.card = -1;
      adopt(only);
      return IpOutcome::kAdopted;
    }
    default:
      if (changed) {
        logf("[ip] nothing answers at %s - asking there again (connecting unchecked after %d "
             "silent sweeps). Not searching elsewhere: no console= says which console belongs "
             "there",
             ip.c_str(), 3);
      }
      note = format("Nothing answers at %s, the address set for this console", ip.c_str());
      bs().find_state = GM_FIND_IP_SILENT;
      return IpOutcome::kWait;
  }
}

std::string candidates_text(const DeskFound* found, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    out += format("%s%s %s at %s (id %s, SoundGrid card %s)", i ? "; " : "", found[i].model,
                  found[i].name, found[i].ip, found[i].id, card_text(found[i].card));
  }
  return out;
}

// One broadcast sweep; true when a console was adopted.
bool broadcast_sweep(int& last_why, int& last_n) {
  DeskFound found[kScanMax];
  const int n = desk()->scan(nullptr, found, kScanMax, kScanMs);
  cfg_reload_pin();
  const std::string console = cfg_console();
  int why = 0;
  const int chosen = desk_choose(found, n, console.c_str(), &why);
  shm_publish_candidates(found, n, console.c_str(), why);
  // Compared with what was last logged, so that an empty sweep in between says nothing twice.
  if (n > 0 && (why != last_why || n != last_n)) {
    logf("[desk] %d answered: %s -> %s%s%s", n, candidates_text(found, n).c_str(),
         chosen >= 0 ? found[chosen].name : "", chosen >= 0 ? ", " : "",
         chosen >= 0 ? desk_choose_reason(why) : "");
    last_why = why;
    last_n = n;
  }
  if (chosen < 0) return false;
  adopt(found[chosen]);
  return true;
}

// Sweeps until a desk is adopted; false on shutdown.
bool first_search() {
  IpBook book;
  int last_why = -1, last_n = -1;
  for (int sweep = 0; !bs().shutdown.load(); ++sweep) {
    if (sweep % 5 == 0) logf("[bridge] discovery sweep %d ...", sweep + 1);
    cfg_reload_pin();
    const std::string ip = cfg_ip();
    std::string note;
    bool adopted = false;
    IpOutcome outcome = IpOutcome::kBroadcast;
    if (valid_ipv4(ip.c_str())) {
      outcome = sweep_at_ip(ip, book, note);
      adopted = outcome == IpOutcome::kAdopted;
    } else {
      bs().find_state = GM_FIND_NORMAL;
    }
    if (!adopted && outcome == IpOutcome::kBroadcast && !bs().shutdown.load()) {
      adopted = broadcast_sweep(last_why, last_n);
    }
    if (adopted) return true;
    shm_note_searching(note.c_str());
    if (quit_wait(sweep < kQuickSweeps ? kQuickPaceMs : kSlowPaceMs)) return false;
  }
  return false;
}

// The re-find bookkeeping while the link is down.
struct Refind {
  int sweeps = 0;
  uint64_t down_since = 0;
  uint64_t last_sweep = 0;
  bool said_not_looking = false;
  bool said_waiting = false;
};

void say_not_looking(Refind& r, const std::string& console, const DeskFound& adopted) {
  if (r.said_not_looking) return;
  r.said_not_looking = true;
  const std::string label = bridge_desk_label();
  if (console.empty()) {
    logf("[refind] %s is not answering. Not looking for it at other addresses: its id (%s) could "
         "belong to another desk - choose it in Setup to make that possible",
         label.c_str(), adopted.id[0] ? adopted.id : "none");
  } else {
    logf("[refind] %s is not answering, and console= now names %s - another console. Not looking "
         "for either until LV1 restarts",
         label.c_str(), console.c_str());
  }
}

void hand_over(const DeskFound& f, const DeskFound& adopted) {
  const std::string label = bridge_desk_label();
  if (strcmp(f.ip, adopted.ip) != 0) {
    logf("[refind] %s (id %s) answers at %s now, not %s - moving the link there", label.c_str(),
         f.id, f.ip, adopted.ip);
  } else {
    logf("[refind] %s (id %s) answers at %s again - restarting the link there", label.c_str(), f.id,
         f.ip);
  }
  if (cfg_hint() != f.ip) {
    cfg_set_hint(f.ip);
    cfg_set_key("hint", f.ip);
  }
  {
    std::lock_guard<std::mutex> lock(bs().desk_mu);
    bs().move_target = f;
  }
  bs().move_request = true;
}

void refind_sweep(Refind& r, const std::string& console, const std::string& identity,
                  const DeskFound& adopted, uint64_t now) {
  if (r.sweeps == 0) {
    logf("[refind] the link to %s at %s has been down for %lu s - looking for it (id %s) at any "
         "address",
         bridge_desk_label().c_str(), adopted.ip,
         static_cast<unsigned long>((now - r.down_since) / 1000), identity.c_str());
  }
  bs().find_state = GM_FIND_LOOKING;
  r.last_sweep = now;
  DeskFound found[kScanMax];
  const int n = desk()->scan(nullptr, found, kScanMax, kScanMs);
  ++r.sweeps;
  const int at = refind_choose(found, n, console.c_str(), identity.c_str());
  if (at < 0) {
    if (r.sweeps % 5 == 1) {
      logf("[refind] sweep %d: not found%s", r.sweeps,
           n > 0 ? " (other consoles answered - none is this one)" : "");
    }
    return;
  }
  const DeskFound& f = found[at];
  if (strcmp(f.ip, adopted.ip) != 0 || bs().link_stopped.load()) {
    hand_over(f, adopted);
    return;
  }
  if (!r.said_waiting) {
    r.said_waiting = true;
    logf("[refind] %s answers discovery at its own address %s - waiting for the control link to "
         "come back",
         bridge_desk_label().c_str(), f.ip);
  }
  bs().find_state = GM_FIND_NORMAL;
}

void refind_tick(Refind& r) {
  if (bs().move_request.load()) return;
  const DeskFound adopted = bridge_adopted();
  if (desk()->connected() && !bs().link_stopped.load()) {
    if (r.sweeps > 0) {
      logf("[refind] %s answers again at %s", bridge_desk_label().c_str(), adopted.ip);
    }
    r = Refind{};
    bs().find_state = GM_FIND_NORMAL;
    return;
  }
  const uint64_t now = gm_now_ms();
  if (r.down_since == 0) r.down_since = now;
  cfg_reload_pin();
  const std::string console = cfg_console();
  const std::string identity = refind_identity(console.c_str(), adopted.id);
  uint64_t down = now - r.down_since;
  if (bs().refind_now.load() && down < kRefindAfterMs) down = kRefindAfterMs;
  if (!refind_due(false, static_cast<unsigned long>(down), identity.c_str())) {
    if (identity.empty() && down >= kRefindAfterMs) say_not_looking(r, console, adopted);
    return;
  }
  const uint32_t pace = r.sweeps < kQuickSweeps ? kQuickPaceMs : kSlowPaceMs;
  if (r.last_sweep != 0 && now - r.last_sweep < pace) return;
  refind_sweep(r, console, identity, adopted, now);
}

}  // namespace

DWORD discover_main(void*) {
  if (!first_search()) return 0;
  bs().find_state = GM_FIND_NORMAL;
  bs().ready = true;
  bs().searching = false;
  start_watcher_once();
  Refind r;
  while (!quit_wait(kRefindTickMs)) refind_tick(r);
  return 0;
}

}  // namespace gm
