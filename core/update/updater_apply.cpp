// Applying a complete stage while LV1 is closed: console modules into the bundle and the mirror,
// the loader in place, the app bundle swapped for the new one; the new app waiting for the old
// one; and the same steps on the command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "install_files.h"
#include "install_state.h"
#include "lv1.h"
#include "module_update.h"
#include "platform.h"
#include "updater.h"
#include "updater_times.h"
#include "util.h"

namespace gm {
namespace {

using gm_release::kMaxFileBytes;

// A name that ends with ext and has something before it.
bool has_extension(const std::string& name, const std::string& ext) {
  return name.size() > ext.size() && name.ends_with(ext);
}

// Reads a staged file and its ".sig" once and keeps them only when the signature verifies, so
// that what is installed is exactly what was verified.
bool read_verified(const std::string& path, std::string& bytes, std::string& sig) {
  return read_file(path, bytes, kMaxFileBytes) && read_file(path + ".sig", sig, kMaxFileBytes) &&
         sig.size() == 64 && gm_release::signed_by_release_key(bytes, sig);
}

bool write_string(const std::string& path, const std::string& text) {
  return write_file(path, std::vector<unsigned char>(text.begin(), text.end()));
}

// Copies every verified staged module (its ".sig" first) into each target; false (logged) at the
// first module that could not be written.
bool copy_staged_modules(const std::string& stage) {
  std::vector<std::string> targets;
  if (installed()) targets.push_back(bundle_dir() + "/modules");
  targets.push_back(mirror_modules_dir());
  for (const std::string& name : names_in(stage + "/modules")) {
    const std::string from = stage + "/modules/" + name;
    std::string bytes, sig;
    if (!has_extension(name, ".dylib") || !read_verified(from, bytes, sig)) continue;
    for (const std::string& target : targets) {
      make_dirs(target);
      write_string(target + "/" + name + ".sig", sig);
      if (!write_string(target + "/" + name, bytes)) {
        logf("update: cannot write %s into %s", name.c_str(), target.c_str());
        return false;
      }
    }
  }
  return true;
}

// Text for an XML property list: the version comes from a file on disk, so markup in it is
// written as characters and can never add or end an element.
std::string xml_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

void set_bundle_version(const std::string& version) {
  const std::string path = our_bundle() + "/Contents/Info.plist";
  std::string plist;
  if (!read_file(path, plist, 1048576)) return;
  for (const char* key :
       {"<key>CFBundleShortVersionString</key><string>", "<key>CFBundleVersion</key><string>"}) {
    const size_t at = plist.find(key);
    if (at == std::string::npos) continue;
    const size_t from = at + std::strlen(key);
    const size_t end = plist.find("</string>", from);
    if (end != std::string::npos) plist.replace(from, end - from, xml_text(version));
  }
  write_text(path, plist);
}

// The staged loader in place of the bundle's. 1 done or skipped, 0 not written (stage kept),
// -1 refused (stage discarded).
int apply_loader(const std::string& stage, const std::string& version) {
  std::string bytes, sig;
  if (!read_verified(stage + "/Gainmesh.dylib", bytes, sig)) {
    logf("update: staged loader fails verification - discarded");
    return -1;
  }
  const bool inst = installed();
  if (inst) {
    const std::string loader = bundle_dir() + "/Gainmesh";
    if (!write_string(bundle_dir() + "/Gainmesh.sig", sig) || !write_string(loader, bytes)) {
      logf("update: cannot write the loader into Gainmesh.bundle");
      return 0;
    }
    chmod(loader.c_str(), 0755);
    set_bundle_version(version);
  }
  logf("update: loader %s %s", version.c_str(),
       inst ? "installed into Gainmesh.bundle" : "skipped (Gainmesh is not installed)");
  return 1;
}

// Puts the unpacked app in place of the running one, keeping the running one as A.old and
// bringing it back when the new one cannot be put there. "" on success, else the reason.
std::string swap_app(const std::string& fresh, const std::string& a) {
  const std::string old = a + ".old";
  remove_tree(old);
  if (rename(a.c_str(), old.c_str()) != 0) {
    return std::string("cannot move the running app aside (") + std::strerror(errno) + ")";
  }
  if (rename(fresh.c_str(), a.c_str()) != 0 && !copy_tree(fresh, a)) {
    remove_tree(a);
    rename(old.c_str(), a.c_str());
    return "could not write the new Gainmesh.app";
  }
  return "";
}

// The staged app archive in place of the running app. "" when it was replaced, else the reason.
std::string replace_app(const std::string& archive) {
  const std::string scratch = updates_root() + "/app";
  remove_tree(scratch);
  make_dirs(scratch);
  const std::string fresh = scratch + "/Gainmesh.app";
  struct stat st {};
  std::string reason;
  if (!unpack_zip(archive, scratch)) {
    reason = "could not unpack the app";
  } else if (lstat(fresh.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
             !exists(fresh + "/Contents/MacOS/Gainmesh")) {
    reason = "the archive has no Gainmesh.app";
  } else if (!has_extension(app_path(), ".app")) {
    reason = "this copy is not inside Gainmesh.app";
  } else {
    reason = swap_app(fresh, app_path());
  }
  if (reason.empty()) strip_quarantine(app_path());
  remove_tree(scratch);
  return reason;
}

// Discards a stage that failed verification.
bool discard(const std::string& stage) {
  remove_tree(stage);
  updater_set_staged(false);
  return false;
}

}  // namespace

bool apply_staged(bool& restart) {
  restart = false;
  const std::string stage = stage_dir();
  const std::string version = staged_version();
  if (!copy_staged_modules(stage)) return false;
  if (exists(stage + "/Gainmesh.dylib")) {
    const int loader = apply_loader(stage, version);
    if (loader < 0) return discard(stage);
    if (loader == 0) return false;
  }
  if (exists(stage + "/Gainmesh.app.zip")) {
    std::string archive, sig;
    if (!read_verified(stage + "/Gainmesh.app.zip", archive, sig)) {
      logf("update: staged app fails verification - discarded");
      return discard(stage);
    }
    const std::string reason = replace_app(archive);
    if (!reason.empty()) {
      logf("update: app not replaced: %s - keeping this one", reason.c_str());
      return false;
    }
    restart = true;
  }
  remove_tree(stage);
  updater_set_staged(false);
  logf("update: Gainmesh %s applied%s", version.c_str(), restart ? " - restarting into it" : "");
  return true;
}

void updater_wait_previous(int argc, char** argv) {
  for (int i = 1; i < argc && argv; ++i) {
    if (!argv[i] || std::strncmp(argv[i], "--updated=", 10) != 0) continue;
    const long pid = std::strtol(argv[i] + 10, nullptr, 10);
    const bool valid = pid > 0 && pid <= INT_MAX;
    for (int n = 0; valid && n < 150 && kill(static_cast<pid_t>(pid), 0) == 0; ++n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    logf("update: now running %s", kAppVersion);
  }
  if (!app_path().empty()) remove_tree(app_path() + ".old");
}

int cli_update_now() {
  check();
  if (updater_staged() && !lv1_running()) {
    std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
    bool restart = false;
    if (!apply_staged(restart)) {
      std::fputs("apply failed - see gainmesh-app.log\n", stderr);
      return 1;
    }
    if (restart) std::printf("the app was replaced: start %s\n", app_path().c_str());
  }
  std::printf("staged: %s\n", updater_staged() ? staged_version().c_str() : "nothing");
  return 0;
}

}  // namespace gm
