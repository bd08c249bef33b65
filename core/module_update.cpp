// New console modules into the installed bundle, live.
#include "module_update.h"

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "install_files.h"
#include "install_state.h"
#include "platform.h"
#include "util.h"

namespace gm {
namespace {

// Copies under a hidden temporary name in the same folder, then renames: a loader that rescans
// meanwhile never sees a half-written module or signature (the loader only takes names that
// begin with the console key).
bool copy_into_place(const std::string& from, const std::string& to) {
  const std::string dir = to.substr(0, to.rfind('/') + 1);
  const std::string tmp = dir + "." + file_name(to) + ".part." + std::to_string(getpid());
  if (copy_file_over(from, tmp) && rename(tmp.c_str(), to.c_str()) == 0) return true;
  unlink(tmp.c_str());
  return false;
}

}  // namespace

bool copy_modules(const std::string& dest, std::string& err, int* count) {
  make_dirs(dest);
  int copied = 0;
  for (const std::string& module : carried_modules()) {
    const std::string name = file_name(module);
    const std::string target = dest + "/" + name;
    if (exists(target)) continue;
    if (exists(module + ".sig")) copy_into_place(module + ".sig", target + ".sig");
    if (!copy_into_place(module, target)) {
      err = "Could not copy " + name + " into Gainmesh.bundle.";
      return false;
    }
    if (!strip_quarantine(target) ||
        (exists(target + ".sig") && !strip_quarantine(target + ".sig"))) {
      err = "Could not clear macOS's download flag from " + name + " - LV1 would refuse it.";
      return false;
    }
    ++copied;
  }
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
