// Building, swapping in and deciding on an install of Gainmesh.bundle.
#include "install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "install_faults.h"
#include "install_files.h"
#include "install_resources.h"
#include "install_state.h"
#include "install_texts.h"
#include "lv1.h"
#include "module_update.h"
#include "no_links.h"
#include "platform.h"
#include "privileged.h"
#include "util.h"

namespace gm {
namespace {

constexpr size_t kMaxProxyBytes = 1048576;

// Earlier builds put a forwarding proxy (marked by the symbol gm_mod_fwd_0) in place of Waves'
// WING module executable and kept Waves' own beside it as ".orig": put Waves' own back.
void undo_forwarding_proxy() {
  const std::string waves = waves_bin(0);
  std::string text;
  if (!exists(waves + ".orig") || !read_regular(waves, text, kMaxProxyBytes)) return;
  if (text.find("gm_mod_fwd_0") == std::string::npos) return;
  if (std::rename((waves + ".orig").c_str(), waves.c_str()) == 0) {
    logf("install: undid the feasibility-spike proxy in front of Waves' WING module");
  } else {
    logf("install: could not undo the spike proxy in front of Waves' WING module (%s)",
         std::strerror(errno));
  }
}

// An install that ended between its two renames left the previous bundle only under ".old":
// put it back, so that its settings are carried over instead of being deleted with it.
void recover_interrupted_swap(const std::string& bundle, const std::string& old) {
  if (exists(bundle) || !exists(old)) return;
  if (std::rename(old.c_str(), bundle.c_str()) == 0) {
    logf("install: put back the Gainmesh bundle that an interrupted install had moved aside");
  }
}

// Waves' card bundle resources into the new bundle. False with err set.
bool take_waves_resources(const std::string& fresh, const Reader& reader, std::string& err) {
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    const std::string card = card_bundle(i);
    if (!exists(card)) continue;
    any = true;
    if (!take_card_resources(card, fresh, reader, err)) return false;
  }
  if (!any) {
    err = "No Waves WING, X-WSG or DN32-WSG module in LV1's IO Modules folder.";
    return false;
  }
  rewrite_assignment_priorities(fresh);
  return true;
}

// The property list, the loader and its signature. False with err set.
bool put_loader(const std::string& payload_loader, const std::string& fresh, const Reader& reader,
                std::string& err) {
  const std::string macos = fresh + "/Contents/MacOS";
  if (!make_folders(macos) ||
      !write_new_file(fresh + "/Contents/Info.plist", bundle_info_plist())) {
    err = "Could not write into LV1's IO Modules folder.";
    return false;
  }
  if (!copy_file_over(payload_loader, macos + "/Gainmesh", reader, 0755)) {
    err = "Could not write Gainmesh into LV1's IO Modules folder.";
    return false;
  }
  if (exists(payload_loader + ".sig"))
    copy_file_over(payload_loader + ".sig", macos + "/Gainmesh.sig", reader);
  return true;
}

// The settings of the bundle being replaced, else those of a first install. A settings file that
// is there but cannot be carried over fails the install rather than being replaced by the
// defaults: wing.cfg holds the inputs that must never get 48V. Each file carried over stays
// locked (in `held`) until the caller lets go after the swap, so that no edit made meanwhile by
// the app or a console module is lost with the old bundle. False with err set.
bool put_settings(const std::string& bundle, const std::string& macos, int only,
                  const Reader& reader, std::vector<std::unique_ptr<SettingsLock>>& held,
                  std::string& err) {
  for (const char* name : {"wing.cfg", "x32.cfg", "state.cfg"}) {
    const std::string old = bundle + "/Contents/MacOS/" + name;
    struct stat st {};
    if (lstat(old.c_str(), &st) != 0) continue;
    held.push_back(std::make_unique<SettingsLock>(old));
    if (held.back()->opened() && !held.back()->locked()) {
      err = std::string("Could not carry over ") + name +
            " from the installed Gainmesh bundle while another program was changing it, so "
            "nothing was changed. Try again in a moment.";
      return false;
    }
    if (!copy_file_over(old, macos + "/" + name, reader)) {
      logf("install: %s of the installed bundle is not a plain file this user can read", name);
      err = std::string("Could not carry over ") + name +
            " from the installed Gainmesh bundle, so nothing was changed. Make it a plain file, "
            "or remove it to start from the default settings.";
      return false;
    }
  }
  if (!exists(macos + "/state.cfg")) write_new_file(macos + "/state.cfg", first_state_text(only));
  for (const char* name : {"wing.cfg", "x32.cfg"}) {
    if (!exists(macos + "/" + name)) write_new_file(macos + "/" + name, default_settings_text());
  }
  return true;
}

// A fresh folder for the new bundle that only this process's user can write to, never one that
// was there before. Its identity in `made`. False with err set.
bool make_fresh(const std::string& fresh, struct stat& made, std::string& err) {
  remove_tree(fresh);
  UniqueFd folder(open_folder_no_links(parent_of(fresh), false));
  const std::string name = last_of(fresh);
  if (folder.get() < 0 || mkdirat(folder.get(), name.c_str(), 0700) != 0 ||
      fstatat(folder.get(), name.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISDIR(made.st_mode) || made.st_uid != geteuid() || (made.st_mode & 0777) != 0700) {
    err = "Could not start a new Gainmesh bundle in LV1's IO Modules folder: " + fresh +
          " is in the way.";
    return false;
  }
  return true;
}

// The folder at `fresh` is still the one make_fresh created.
bool still_ours(const std::string& fresh, const struct stat& made) {
  struct stat now {};
  return lstat(fresh.c_str(), &now) == 0 && now.st_dev == made.st_dev && now.st_ino == made.st_ino;
}

// The two renames: the old bundle aside, the new one in its place. On a failure of the second
// the old bundle goes back under its own name. The folder is flushed afterwards, so that the
// swap survives a power cut. False with err set.
bool swap_in(const std::string& bundle, const std::string& fresh, std::string& err) {
  const std::string old = bundle + ".old";
  remove_tree(old);
  const bool had_old = exists(bundle);
  if (had_old && std::rename(bundle.c_str(), old.c_str()) != 0) {
    err = "Could not replace the installed Gainmesh bundle.";
    return false;
  }
  if (install_fault("swap") || std::rename(fresh.c_str(), bundle.c_str()) != 0) {
    if (had_old) std::rename(old.c_str(), bundle.c_str());
    err = "Could not put the new Gainmesh bundle in place.";
    return false;
  }
  flush_folder(parent_of(bundle));
  install_fault("done");
  remove_tree(old);
  flush_folder(parent_of(bundle));
  return true;
}

// Opens the finished bundle to everyone for reading, makes it durable and, for the administrator
// child, the user's. False with err set.
bool finish(const std::string& fresh, const struct stat& made, unsigned uid, unsigned gid,
            std::string& err) {
  UniqueFd top(open_no_links(fresh, O_RDONLY | O_DIRECTORY));
  struct stat now {};
  if (top.get() < 0 || fstat(top.get(), &now) != 0 || now.st_dev != made.st_dev ||
      now.st_ino != made.st_ino || fchmod(top.get(), 0755) != 0) {
    err = "Could not write into LV1's IO Modules folder.";
    return false;
  }
  if (uid != kKeepOwner && (install_fault("chown") || !hand_over_tree(fresh, uid, gid))) {
    err = "Could not hand the new Gainmesh bundle to this user.";
    return false;
  }
  if (!flush_tree(fresh)) {
    err = "Could not write into LV1's IO Modules folder.";
    return false;
  }
  return true;
}

}  // namespace

bool install_impl(std::string& err, unsigned uid, unsigned gid, int only) {
  const std::string payload_loader = payload_dir() + "/Gainmesh";
  if (!exists(payload_loader)) {
    err = "Gainmesh.app is incomplete: its payload has no loader. Download Gainmesh again.";
    return false;
  }
  undo_forwarding_proxy();
  const std::string bundle = our_bundle(), fresh = bundle + ".new";
  const std::string macos = fresh + "/Contents/MacOS";
  recover_interrupted_swap(bundle, bundle + ".old");
  const Reader reader{uid, gid};
  struct stat made {};
  if (!make_fresh(fresh, made, err)) return false;
  const auto fail = [&](const std::string& message) {
    if (!message.empty()) err = message;
    if (still_ours(fresh, made)) remove_tree(fresh);
    return false;
  };

  if (!take_waves_resources(fresh, reader, err)) return fail("");
  install_fault("resources");
  if (!put_loader(payload_loader, fresh, reader, err)) return fail("");
  install_fault("loader");
  if (!copy_modules(macos + "/modules", err, nullptr, reader)) return fail("");
  install_fault("modules");
  std::vector<std::unique_ptr<SettingsLock>> settings_locks;
  if (!put_settings(bundle, macos, only, reader, settings_locks, err)) return fail("");
  install_fault("settings");
  if (!strip_quarantine(fresh)) {
    return fail(
        "Could not clear macOS's download flag (quarantine) from Gainmesh's files - LV1 "
        "would refuse them.");
  }
  if (!finish(fresh, made, uid, gid, err)) return fail("");
  if (!swap_in(bundle, fresh, err)) return fail("");
  logf("install: Gainmesh %s installed in %s", kAppVersion, bundle.c_str());
  return true;
}

bool do_install(std::string& err, bool allow_admin, int only) {
  std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
  if (!exists(waves_bin(0)) && !exists(waves_bin(1))) {
    err = "No supported I/O module found.";
    return false;
  }
  const bool present = exists(our_bundle());
  if (lv1_running() && present) {
    if (installed() && !loader_update_pending() && modules_update_pending()) {
      return apply_live_module_updates(err);
    }
    err = "Close eMotion LV1 first.";
    return false;
  }
  if (writable(io_modules_dir()) && (!present || writable(our_bundle()))) {
    return install_impl(err, kKeepOwner, kKeepOwner, only);
  }
  if (allow_admin) {
    if (!run_privileged("--install-root", err, only)) return false;
    if (installed()) return true;
    // The root child reported success but left no bundle that reads as installed.
    err = "Gainmesh is not installed after the administrator step.";
    return false;
  }
  err = "LV1's IO Modules folder needs an administrator password.";
  return false;
}

}  // namespace gm
