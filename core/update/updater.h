// Keeping Gainmesh up to date from signed releases: the periodic check (30 s after the first
// tick, then every 6 h), console modules going live at once, a newer loader or app staged until
// LV1 is closed, and applying that stage.
//
// Folders: updates_root() = support_dir() + "/updates"; stage_dir() = updates_root() + "/staged",
// holding "Gainmesh.dylib", "Gainmesh.app.zip", "modules/" (each file with its ".sig") and
// "ready" (the release version, written last: a stage without it is incomplete).
//
// Threads: updater_tick (or updater_poll) runs on the app's timer thread, updater_apply on the
// thread its caller chooses; check() runs on one detached updater
// thread at a time (or on the command line's thread); updater_staged and updater_busy may be
// read from any thread. Writes into the installed bundle hold bundle_mutex().
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "release.h"
#include "updater_net.h"

namespace gm {

std::string updates_root();
std::string stage_dir();

// Once a second from gm_tick. Starts a check when one is due and applies a complete stage while
// LV1 is closed; `quit` becomes true when the app was replaced and the new copy started.
void updater_tick(bool& quit);
// updater_tick in two halves for a caller with an event loop. updater_poll never blocks for long:
// it starts a due check and says whether applying the stage is due. updater_apply applies it
// (blocking for unpacking and copying) and may run on another thread than updater_poll, but the
// two never overlap: the caller polls again only after the apply returned.
bool updater_poll();
void updater_apply(bool& quit);
bool updater_staged();  // a complete stage waits
bool updater_busy();    // a check is running

// One full check: the manifest, live modules, the stage. Blocks on the network.
void check();

// The content of "ready" in the stage, unchanged: its first 64 bytes (a manifest with a longer
// version is refused); "" when missing.
std::string staged_version();

// Writes item.sig as dir/<file>.sig, then the bytes as dir/<file>, each replaced whole; creates
// dir. True only when both were written.
bool write_pair(const std::string& dir, const gm_release::Item& item, const Bytes& bytes);

// The console's modules in dir ("<console>-<version>.dylib" whose signature verifies), newest
// first.
std::vector<std::pair<gm_release::Ver, std::string>> signed_modules(const std::string& dir,
                                                                    const std::string& console);
// Deletes all but the two newest signed modules of the console in dir (with their signatures),
// never the version the loader reports running.
void prune_modules(const std::string& dir, const std::string& console);

// Applies the stage; the caller holds bundle_mutex() and LV1 is not running. `restart` becomes
// true when the app bundle was replaced. False leaves a stage that may be tried again (or none,
// when it failed verification).
bool apply_staged(bool& restart);
// At start-up: waits up to 15 s for the instance named by "--updated=<pid>" to end, then removes
// the replaced copy (app_path() + ".old").
void updater_wait_previous(int argc, char** argv);
// "--update-now": a check on this thread, then the stage applied when LV1 is closed. Exit code.
int cli_update_now();

}  // namespace gm
