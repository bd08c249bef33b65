// Building, swapping in and deciding on an install of Gainmesh.bundle.
#include "install.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "install_faults.h"
#include "install_files.h"
#include "install_resources.h"
#include "install_state.h"
#include "install_texts.h"
#include "lv1.h"
#include "module_update.h"
#include "platform.h"
#include "privileged.h"
#include "util.h"

namespace gm {
namespace {

// Earlier builds put a forwarding proxy (marked by the symbol gm_mod_fwd_0) in place of Waves'
// WING module executable and kept Waves' own beside it as ".orig": put Waves' own back.
void undo_forwarding_proxy() {
  const std::string waves = waves_bin(0);
  if (!exists(waves + ".orig")) return;
  if (read_text(waves).find("gm_mod_fwd_0") == std::string::npos) return;
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
bool take_waves_resources(const std::string& fresh, std::string& err) {
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    const std::string card = card_bundle(i);
    if (!exists(card)) continue;
    any = true;
    if (!take_card_resources(card, fresh, err)) return false;
  }
  if (!any) {
    err = "No Waves WING, X-WSG or DN32-WSG module in LV1's IO Modules folder.";
    return false;
  }
  rewrite_assignment_priorities(fresh);
  return true;
}

// The property list, the loader and its signature. False with err set.
bool put_loader(const std::string& payload_loader, const std::string& fresh, std::string& err) {
  const std::string macos = fresh + "/Contents/MacOS";
  make_dirs(macos);
  if (!write_text(fresh + "/Contents/Info.plist", bundle_info_plist())) {
    err = "Could not write into LV1's IO Modules folder.";
    return false;
  }
  if (!copy_file_over(payload_loader, macos + "/Gainmesh") ||
      chmod((macos + "/Gainmesh").c_str(), 0755) != 0) {
    err = "Could not write Gainmesh into LV1's IO Modules folder.";
    return false;
  }
  if (exists(payload_loader + ".sig"))
    copy_file_over(payload_loader + ".sig", macos + "/Gainmesh.sig");
  return true;
}

// The settings of the bundle being replaced, else those of a first install.
void put_settings(const std::string& bundle, const std::string& macos, int only) {
  for (const char* name : {"wing.cfg", "x32.cfg", "state.cfg"}) {
    const std::string old = bundle + "/Contents/MacOS/" + name;
    if (exists(old)) copy_file_over(old, macos + "/" + name);
  }
  if (!exists(macos + "/state.cfg")) write_text(macos + "/state.cfg", first_state_text(only));
  for (const char* name : {"wing.cfg", "x32.cfg"}) {
    if (!exists(macos + "/" + name)) write_text(macos + "/" + name, default_settings_text());
  }
}

// The two renames: the old bundle aside, the new one in its place. On a failure of the second
// the old bundle goes back under its own name. False with err set.
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
  install_fault("done");
  remove_tree(old);
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
  remove_tree(fresh);
  const auto fail = [&](const std::string& message) {
    if (!message.empty()) err = message;
    remove_tree(fresh);
    return false;
  };

  if (!take_waves_resources(fresh, err)) return fail("");
  install_fault("resources");
  if (!put_loader(payload_loader, fresh, err)) return fail("");
  install_fault("loader");
  if (!copy_modules(macos + "/modules", err, nullptr)) return fail("");
  install_fault("modules");
  put_settings(bundle, macos, only);
  install_fault("settings");
  if (!strip_quarantine(fresh)) {
    return fail(
        "Could not clear macOS's download flag (quarantine) from Gainmesh's files - LV1 "
        "would refuse them.");
  }
  if (uid != kKeepOwner && (install_fault("chown") || change_owner_tree(fresh, uid, gid) != 0)) {
    return fail("Could not hand the new Gainmesh bundle to this user.");
  }
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
