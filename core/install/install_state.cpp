// Questions about the installed bundle, answered from the files.
#include "install_state.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/modules_changed.h"
#include "install_faults.h"
#include "install_files.h"
#include "release_text.h"
#include "util.h"

namespace gm {
namespace {

constexpr size_t kMaxText = 1048576;
constexpr size_t kMaxLoader = 67108864;
constexpr const char* kLoaderId = "org.ambervale.gainmesh.loader";
constexpr const char* kVersionKey = "<key>CFBundleVersion</key><string>";

std::string info_plist() { return our_bundle() + "/Contents/Info.plist"; }

int64_t mtime_of(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

bool carried_name(const std::string& name) {
  const bool ours = name.rfind("wing-", 0) == 0 || name.rfind("x32-", 0) == 0;
  const size_t dot = name.rfind('.');
  return ours && dot != std::string::npos && name.compare(dot, std::string::npos, ".dylib") == 0;
}

// Waves' resources differ from those in our bundle: the first card bundle's IOM_VERSION, or a
// Wfis entry of any card bundle that our bundle lacks.
bool waves_resources_changed() {
  const std::string iom_version = "/Contents/Resources/IOM_VERSION/1000";
  const std::vector<std::string> ours = names_in(our_bundle() + "/Contents/Wfis");
  bool first = true;
  for (int i = 0; i < 3; ++i) {
    const std::string card = card_bundle(i);
    if (!exists(card)) continue;
    if (first && read_text(card + iom_version) != read_text(our_bundle() + iom_version)) {
      return true;
    }
    first = false;
    for (const std::string& name : names_in(card + "/Contents/Wfis")) {
      if (std::find(ours.begin(), ours.end(), name) == ours.end()) return true;
    }
  }
  return false;
}

}  // namespace

std::string card_bundle(int i) {
  if (i < 0 || i > 2) return "";
  return io_modules_dir() + "/" + kCardBundles[i] + ".bundle";
}

std::string read_text(const std::string& path) {
  std::string text;
  return read_file(path, text, kMaxText) ? text : std::string();
}

bool installed() {
  if (!exists(bundle_dir() + "/Gainmesh")) return false;
  return read_text(info_plist()).find(kLoaderId) != std::string::npos;
}

std::string installed_version() {
  const std::string plist = read_text(info_plist());
  const size_t key = plist.find(kVersionKey);
  if (key == std::string::npos) return "";
  const size_t from = key + std::strlen(kVersionKey);
  const size_t end = plist.find("</string>", from);
  return end == std::string::npos ? "" : plist.substr(from, end - from);
}

int64_t install_time() {
  const int64_t plist = mtime_of(info_plist()), loader = mtime_of(bundle_dir() + "/Gainmesh");
  return plist > loader ? plist : loader;
}

bool waves_present(int which) {
  return (which == 0 || which == 1) && exists(waves_bin(which));
}

bool console_installed(int which, bool* enabled) {
  if (!installed() || !waves_present(which)) return false;
  bool on = true;
  // The loader reads state.cfg the same way: pieces of at most 127 characters, any letter case.
  if (FILE* f = std::fopen(state_cfg().c_str(), "r")) {
    char line[128];
    while (std::fgets(line, sizeof line, f)) {
      char* eq = std::strchr(line, '=');
      if (!eq) continue;
      *eq = '\0';
      if (strcasecmp(line, kSupported[which].key) == 0) on = strncasecmp(eq + 1, "off", 3) != 0;
    }
    std::fclose(f);
  }
  if (enabled) *enabled = on;
  return true;
}

bool install_needs_admin() {
  if (!writable(io_modules_dir())) return true;
  return exists(our_bundle()) && !writable(our_bundle());
}

bool set_console_enabled(int which, bool on, std::string& err) {
  if (which != 0 && which != 1) return false;
  std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
  if (install_fault("switch") ||
      !cfg_set_line(state_cfg(), kSupported[which].key, on ? "on" : "off")) {
    err = "Could not write " + state_cfg() + ".";
    return false;
  }
  notify_loader();
  logf("switch: %s %s", kSupported[which].key, on ? "on" : "off");
  return true;
}

std::vector<std::string> carried_modules() {
  std::vector<std::string> out;
  for (const std::string& dir : {payload_dir() + "/modules", mirror_modules_dir()}) {
    for (const std::string& name : names_in(dir)) {
      if (carried_name(name)) out.push_back(dir + "/" + name);
    }
  }
  return out;
}

bool modules_update_pending() {
  if (!installed()) return false;
  for (const std::string& module : carried_modules()) {
    if (!exists(bundle_dir() + "/modules/" + file_name(module))) return true;
  }
  return false;
}

bool loader_update_pending() {
  if (!installed()) return false;
  const std::string inst = installed_version();
  if (exists(our_bundle()) && waves_resources_changed()) return true;
  const gm_release::Ver have = gm_release::parse_ver(inst);
  if (have.major >= 0 && gm_release::parse_ver(kAppVersion) <= have) return false;
  const std::string payload = payload_dir() + "/Gainmesh";
  if (!exists(payload)) return false;
  std::string mine, theirs;
  const bool both = read_file(payload, mine, kMaxLoader) &&
                    read_file(bundle_dir() + "/Gainmesh", theirs, kMaxLoader);
  return !(both && mine == theirs);
}

void notify_loader() {
  std::string err;
  if (!gm_base::post_modules_changed(err)) {
    logf("notify_post failed (%u) - the loader picks it up from disk within 5 s", 1u);
  }
}

}  // namespace gm
