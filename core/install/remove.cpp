// Removing Gainmesh.bundle, directly or through the administrator step.
#include "remove.h"

#include <mutex>

#include "install_files.h"
#include "lv1.h"
#include "privileged.h"
#include "util.h"

namespace gm {

bool remove_impl(std::string& err) {
  const std::string bundle = our_bundle();
  remove_tree(bundle + ".new");
  remove_tree(bundle + ".old");
  if (remove_tree(bundle) && !exists(bundle)) {
    flush_folder(io_modules_dir());
    logf("remove: Gainmesh.bundle removed; LV1 uses Waves' own modules again");
    return true;
  }
  err = "Could not delete " + bundle + ".";
  return false;
}

bool do_remove(std::string& err) {
  std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
  const std::string bundle = our_bundle();
  if (!exists(bundle)) {
    err = "Nothing to remove.";
    return false;
  }
  if (lv1_running()) {
    err = "Close eMotion LV1 first.";
    return false;
  }
  if (writable(io_modules_dir())) return remove_impl(err);
  if (!run_privileged("--remove-root", err, -1)) return false;
  if (!exists(bundle)) return true;
  // The root child reported success but the bundle is still there: say so rather than nothing.
  err = "Could not delete " + bundle + ".";
  return false;
}

}  // namespace gm
