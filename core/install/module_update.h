// Console modules put into the installed bundle while LV1 may be running: every new version
// arrives under a new file name beside the old ones, and the loader is told to look again. Also
// the clearing of macOS's download flag, which LV1 refuses files for.
//
// Threads: any. copy_modules takes no lock (its callers hold bundle_mutex());
// apply_live_module_updates holds bundle_mutex() for its whole run. All block on the file system.
#pragma once

#include <string>

#include "install_files.h"

namespace gm {

// Copies every carried module whose file name `dest` does not hold yet (with its ".sig" when
// there is one), creating `dest` when needed; a name already there is never overwritten, and a
// name carried twice is copied once, from the payload. Each module appears under its final name
// only once it is complete. False with err naming the module when one could not be copied or
// cleared of the download flag; the modules copied before it stay. *count (when not null)
// receives the number of modules copied. Only files `reader` may read are taken; reading for
// another user (the administrator child), a module from the download mirror is taken only with
// a signature by the release key, and left out with a log line otherwise.
bool copy_modules(const std::string& dest, std::string& err, int* count, const Reader& reader = {});

// Copies new carried modules into the installed bundle and, when there were any, tells the
// loader and logs how many. The result and err of copy_modules.
bool apply_live_module_updates(std::string& err);

// Removes the download flag from the path and, for a folder, from everything below it (symbolic
// links are not followed). Every entry is visited; false when any of them kept the flag or could
// not be examined.
bool strip_quarantine(const std::string& path);

}  // namespace gm
