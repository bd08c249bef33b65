// New console modules into the installed bundle, live.
#include "module_update.h"

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "install_files.h"
#include "install_state.h"
#include "platform.h"
#include "release.h"
#include "util.h"

namespace gm {
namespace {

constexpr size_t kMaxModuleBytes = gm_release::kMaxFileBytes;

// Writes under a hidden temporary name in the same folder, then renames: a loader that rescans
// meanwhile never sees a half-written module or signature (the loader only takes names that
// begin with the console key).
bool put_into_place(const std::string& bytes, const std::string& to) {
  const std::string dir = to.substr(0, to.rfind('/') + 1);
  const std::string tmp = dir + "." + file_name(to) + ".part." + std::to_string(getpid());
  if (write_new_file(tmp, bytes) && rename(tmp.c_str(), to.c_str()) == 0) return true;
  unlink(tmp.c_str());
  return false;
}

bool in_mirror(const std::string& module) {
  return module.rfind(mirror_modules_dir() + "/", 0) == 0;
}

}  // namespace

bool copy_modules(const std::string& dest, std::string& err, int* count, const Reader& reader) {
  make_folders(dest);
  int copied = 0;
  for (const std::string& module : carried_modules()) {
    const std::string name = file_name(module);
    const std::string target = dest + "/" + name;
    if (exists(target)) continue;
    // Read once: the bytes that were checked are the bytes that are written.
    std::string bytes, sig;
    const bool has_sig = read_regular(module + ".sig", sig, kMaxModuleBytes, reader);
    const bool readable = read_regular(module, bytes, kMaxModuleBytes, reader);
    if (reader.uid != kKeepOwner && in_mirror(module) &&
        !(readable && has_sig && gm_release::signed_by_release_key(bytes, sig))) {
      logf("install: left out %s from the downloaded modules: %s", name.c_str(),
           readable ? "its signature does not verify" : "it is not a plain file the user can read");
      continue;
    }
    if (has_sig) put_into_place(sig, target + ".sig");
    if (!readable || !put_into_place(bytes, target)) {
      err = "Could not copy " + name + " into Gainmesh.bundle.";
      return false;
    }
    if (!strip_quarantine(target) || (has_sig && !strip_quarantine(target + ".sig"))) {
      err = "Could not clear macOS's download flag from " + name + " - LV1 would refuse it.";
      return false;
    }
    ++copied;
  }
  if (copied > 0) flush_folder(dest);
  if (count) *count = copied;
  return true;
}

bool apply_live_module_updates(std::string& err) {
  std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
  int count = 0;
  const bool ok = copy_modules(bundle_dir() + "/modules", err, &count);
  if (ok && count > 0) {
    notify_loader();
    logf("install: %d console module(s) added live", count);
  }
  return ok;
}

bool strip_quarantine(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  bool ok = remove_quarantine(path);
  if (!S_ISDIR(st.st_mode)) return ok;
  std::vector<std::string> names;
  if (!list_names(path, names)) return ok;
  for (const std::string& name : names) ok = strip_quarantine(path + "/" + name) && ok;
  return ok;
}

}  // namespace gm
