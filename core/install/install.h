// Building Gainmesh.bundle in LV1's IO Modules folder from Waves' card bundles, this app's
// payload and the settings of the bundle it replaces. The new bundle is built beside the old one
// as "Gainmesh.bundle.new" and swapped in with two renames, so LV1 never sees half a bundle: an
// install leaves either the new bundle in place or the previous state.
//
// Threads: any thread but the UI's; both calls block for the whole install (do_install also for
// the administrator prompt). do_install holds bundle_mutex() throughout; install_impl takes no
// lock (its callers hold the mutex, or run it alone in the administrator child).
#pragma once

#include <string>

#include "install_files.h"

namespace gm {

// Installs when it can: refuses while LV1 runs with a bundle present (except that new console
// modules then go live when the installed loader is current), and goes through the administrator
// step when the folder needs one and `allow_admin` permits it. `only` (0 or 1) is the console
// type a first install alone switches on; -1 switches on both. False with err holding one
// sentence.
bool do_install(std::string& err, bool allow_admin, int only);

// Builds and swaps in the bundle. uid/gid name the owner to hand the new bundle to, or kKeepOwner
// for both. The bundle is built in a fresh folder only this process's user may write to and
// reaches its place only once every file is on disk. Handing it to another user (the
// administrator child), only files that user could read are taken, and downloaded modules only
// with the release key's signature. False with err holding one sentence; the ".new" folder is
// then gone.
bool install_impl(std::string& err, unsigned uid, unsigned gid, int only);

}  // namespace gm
