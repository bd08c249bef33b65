// The updater's state, its folders, the periodic driver and the check: console modules that go
// live at once, a newer loader or app staged for when LV1 is closed, and the module files kept
// in a folder.
#include "updater.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "install_files.h"
#include "install_state.h"
#include "lv1.h"
#include "platform.h"
#include "status.h"
#include "updater_times.h"
#include "util.h"

namespace gm {
namespace {

using gm_release::Item;
using gm_release::parse_ver;
using gm_release::Release;
using gm_release::Ver;

constexpr int64_t kFirstCheckMs = 30000;
constexpr int64_t kCheckEveryMs = 21600000;  // 6 hours
constexpr int64_t kApplyEveryMs = 600000;    // 10 minutes
constexpr size_t kManifestMax = 262144;

std::atomic<bool> g_busy{false};
std::atomic<bool> g_staged{false};

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void start_check_thread() {
  try {
    std::thread([] {
      check();
      g_busy = false;
    }).detach();
  } catch (const std::system_error& e) {
    // No check runs, so none may keep the apply step waiting; the next one is due in 6 h.
    g_busy = false;
    logf("update: could not start the check: %s", e.what());
  }
}

UpdaterTimes g_times;  // the process's timetable; see updater_poll for who touches it

bool apply_due(const UpdaterTimes& times, int64_t now) {
  return g_staged && !g_busy && now >= times.next_apply && !lv1_running();
}

void apply_when_due(UpdaterTimes& times, int64_t now, bool& quit) {
  if (!apply_due(times, now)) return;
  std::unique_lock<std::recursive_mutex> lock(bundle_mutex(), std::try_to_lock);
  if (!lock.owns_lock()) return;
  times.next_apply = now + kApplyEveryMs;
  bool restart = false;
  if (!apply_staged(restart) || !restart) return;
  if (open_path(app_path(), {"--updated=" + std::to_string(getpid())}, true)) {
    quit = true;
  } else {
    logf("update: could not start the new Gainmesh.app - it starts next login");
  }
}

// The loader's report of the console's running module version; "" when LV1 does not hold the
// block or the console is not in it.
std::string running_version(const std::string& console) {
  GmLoaderStatus block;
  if (!read_loader_status(&block, live_blocks(lv1_info()))) return "";
  for (const GmLoaderConsole& c : block.consoles) {
    if (console == c.key) return c.running_version;
  }
  return "";
}

// Fetches and verifies the manifest; false (logged) when there is none to act on.
bool fetch_release(Release& release) {
  Bytes reply;
  int http = 0;
  if (!https_get(update_manifest_url(), reply, kManifestMax, http)) {
    logf("update: check failed (HTTP %d) - next try in 6 h", http);
    return false;
  }
  std::string err;
  const std::string text(reply.begin(), reply.end());
  if (!gm_release::load_release(text, gm_release::kMac, release, err)) {
    logf("update: %s", err.c_str());
    return false;
  }
  logf("update: release %s available (this is %s)", release.version.c_str(), kAppVersion);
  return true;
}

// One newer module into the live folder (when Gainmesh is installed) and the mirror. True when
// it went where it was meant to go.
bool take_module(const Item& m, const std::string& live, const std::string& mirror) {
  Bytes bytes;
  std::string err;
  if (!fetch_item(m, bytes, err)) {
    logf("update: %s %s refused: %s", m.file.c_str(), m.version.c_str(), err.c_str());
    return false;
  }
  bool ok_live = true;
  if (!live.empty()) {
    std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
    ok_live = installed() && write_pair(live, m, bytes);
  }
  const bool kept = write_pair(mirror, m, bytes);
  if (!ok_live) {
    logf("update: could not write %s into Gainmesh.bundle", m.file.c_str());
    return false;
  }
  logf("update: %s verified and %s%s", m.file.c_str(),
       live.empty() ? "kept for the next install" : "installed",
       kept ? "" : " (could not keep a copy)");
  return true;
}

// Newer modules that the installed loader can run go live now; those that need another loader
// are returned for the stage.
std::vector<Item> update_modules(const Release& release) {
  const std::string live = installed() ? bundle_dir() + "/modules" : "";
  const std::string mirror = mirror_modules_dir();
  std::vector<Item> deferred;
  int count = 0;
  for (const Item& m : release.modules) {
    const auto have = signed_modules(live.empty() ? mirror : live, m.console);
    const Ver best = have.empty() ? Ver{} : have.front().first;
    if (!(best < parse_ver(m.version))) continue;
    if (m.abi >= 0 && m.abi != 3) {
      deferred.push_back(m);
      continue;
    }
    if (take_module(m, live, mirror)) ++count;
  }
  if (count > 0 && !live.empty()) {
    std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
    notify_loader();
    std::set<std::string> consoles;
    for (const Item& m : release.modules) consoles.insert(m.console);
    for (const std::string& key : consoles) {
      prune_modules(live, key);
      prune_modules(mirror, key);
    }
  }
  return deferred;
}

// Downloads the wanted loader and app, then the deferred modules, into a fresh stage and marks
// it complete with "ready"; a stage that could not be completed is removed.
void stage_release(const Release& release, const std::vector<Item>& deferred, bool want_loader,
                   bool want_app) {
  const std::string stage = stage_dir();
  remove_tree(stage);
  bool ok = true;
  for (const Item* item :
       {want_loader ? &release.loader : nullptr, want_app ? &release.app : nullptr}) {
    if (!item || !ok) continue;
    Bytes bytes;
    std::string err;
    if (fetch_item(*item, bytes, err) && !write_pair(stage, *item, bytes)) {
      err = "could not be written to disk";
    }
    if (!err.empty()) {
      logf("update: %s %s not staged: %s", item->file.c_str(), item->version.c_str(), err.c_str());
      ok = false;
    }
  }
  for (const Item& m : deferred) {
    Bytes bytes;
    std::string err;
    ok = ok && fetch_item(m, bytes, err) && write_pair(stage + "/modules", m, bytes);
  }
  if (ok && write_text(stage + "/ready", release.version)) {
    logf("update: Gainmesh %s staged - it installs the next time LV1 is closed",
         release.version.c_str());
  } else {
    remove_tree(stage);
  }
}

void check_release() {
  Release release;
  if (!fetch_release(release)) return;
  const std::vector<Item> deferred = update_modules(release);
  const Ver mine = parse_ver(kAppVersion);
  const bool want_loader = release.loader.size > 0 && mine < parse_ver(release.loader.version);
  const bool want_app = release.app.size > 0 && mine < parse_ver(release.app.version);
  if ((want_loader || want_app) && staged_version() != release.version) {
    stage_release(release, deferred, want_loader, want_app);
  }
}

}  // namespace

std::string updates_root() {
  return support_dir() + "/updates";
}
std::string stage_dir() {
  return updates_root() + "/staged";
}

bool updater_staged() {
  return g_staged.load();
}
bool updater_busy() {
  return g_busy.load();
}
void updater_set_staged(bool staged) {
  g_staged = staged;
}

std::string staged_version() {
  std::ifstream in(stage_dir() + "/ready", std::ios::binary);
  char text[gm_release::kMaxVersionBytes];
  in.read(text, sizeof text);
  return std::string(text, static_cast<size_t>(in.gcount()));
}

void updater_tick_at(UpdaterTimes& times, int64_t now, bool& quit) {
  quit = false;
  updater_poll_at(times, now);
  apply_when_due(times, now, quit);
}

bool updater_poll_at(UpdaterTimes& times, int64_t now) {
  if (times.next_check == 0) {
    times.next_check = now + kFirstCheckMs;
    g_staged = !staged_version().empty();
  }
  bool idle = false;
  if (now >= times.next_check && g_busy.compare_exchange_strong(idle, true)) {
    times.next_check = now + kCheckEveryMs;
    start_check_thread();
  }
  return apply_due(times, now);
}

void updater_apply_at(UpdaterTimes& times, int64_t now, bool& quit) {
  quit = false;
  apply_when_due(times, now, quit);
}

void updater_tick(bool& quit) {
  updater_tick_at(g_times, now_ms(), quit);
}

bool updater_poll() {
  return updater_poll_at(g_times, now_ms());
}

void updater_apply(bool& quit) {
  updater_apply_at(g_times, now_ms(), quit);
}

void check() {
  check_release();
  // Also after a failed check: whatever was staged before is still there to apply.
  g_staged = !staged_version().empty();
}

bool write_pair(const std::string& dir, const Item& item, const Bytes& bytes) {
  make_dirs(dir);
  const Bytes sig(item.sig.begin(), item.sig.end());
  return write_file(dir + "/" + item.file + ".sig", sig) &&
         write_file(dir + "/" + item.file, bytes);
}

std::vector<std::pair<Ver, std::string>> signed_modules(const std::string& dir,
                                                        const std::string& console) {
  std::vector<std::pair<Ver, std::string>> out;
  const std::string prefix = console + "-";
  for (const std::string& name : names_in(dir)) {
    if (!name.ends_with(".dylib") || !name.starts_with(prefix)) continue;
    const Ver v = parse_ver(std::string_view(name).substr(prefix.size()));
    const std::string path = dir + "/" + name;
    if (v.major < 0 || !pair_ok(path)) continue;
    out.emplace_back(v, path);
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return b.first < a.first; });
  return out;
}

void prune_modules(const std::string& dir, const std::string& console) {
  const auto list = signed_modules(dir, console);
  if (list.size() < 3) return;
  const std::string in_use = running_version(console);
  const std::string running_file = console + "-" + in_use + ".dylib";
  for (size_t i = 2; i < list.size(); ++i) {
    const std::string name = file_name(list[i].second);
    if (!in_use.empty() && name == running_file) continue;
    if (unlink(list[i].second.c_str()) != 0) continue;
    unlink((list[i].second + ".sig").c_str());
    logf("update: removed old module %s", name.c_str());
  }
}

}  // namespace gm
