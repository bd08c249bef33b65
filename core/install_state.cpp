// Questions about the installed bundle, answered from the files.
#include "install_state.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "base/modules_changed.h"
#include "util.h"

namespace gm {
namespace {

constexpr size_t kMaxText = 1048576;
constexpr const char* kLoaderId = "org.ambervale.gainmesh.loader";
constexpr const char* kVersionKey = "<key>CFBundleVersion</key><string>";

std::string info_plist() { return our_bundle() + "/Contents/Info.plist"; }

int64_t mtime_of(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

}  // namespace

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

void notify_loader() {
  std::string err;
  if (!gm_base::post_modules_changed(err)) {
    logf("notify_post failed (%u) - the loader picks it up from disk within 5 s", 1u);
  }
}

}  // namespace gm
