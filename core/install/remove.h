// Removing Gainmesh.bundle from LV1's IO Modules folder, with the settings files inside it.
// Waves' own IO module bundles are never touched, so LV1 falls back to them.
//
// Threads: any but the UI's; both calls block on the file system (do_remove also for the
// administrator prompt). do_remove holds bundle_mutex() throughout; remove_impl takes no lock.
#pragma once

#include <string>

namespace gm {

// Refuses with nothing installed or while LV1 runs; goes through the administrator step when the
// folder is not writable. True when the bundle is gone; false with err holding one sentence.
bool do_remove(std::string& err);

// Removes the bundle and the installer's leftovers beside it (".new", ".old"). True when the
// bundle is gone afterwards; false with err holding one sentence.
bool remove_impl(std::string& err);

}  // namespace gm
