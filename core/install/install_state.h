// What the app can tell about the installed Gainmesh.bundle without changing it: whether it is
// there and Gainmesh's, its version and install time, whether a console type is installed and
// switched on, whether writing needs an administrator, whether this app carries a newer loader or
// newer console modules; switching a console type on or off, and the notification that tells a
// running loader to re-read its files.
//
// Threads: any. Nothing is cached: every call reads the file system again, and a call may see a
// bundle that another thread is replacing (it answers from whichever files it finds). Only
// set_console_enabled changes anything, under bundle_mutex().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gm {

// Waves' card bundles the installer takes resources from, in the order it reads them. The first
// two are the card bundles of console types 0 and 1; the third only contributes resources.
inline constexpr const char* kCardBundles[3] = {"SoundGrid Wing Control", "SoundGrid X-WSG Control",
                                                "SoundGrid DN32-WSG Control"};
// io_modules_dir() + "/" + kCardBundles[i] + ".bundle"; "" for any other i.
std::string card_bundle(int i);

// This app's version, the one it installs.
inline constexpr const char* kAppVersion = "3.2.0";

// The whole file, or "" when it cannot be read or is larger than 1 MiB.
std::string read_text(const std::string& path);

// The loader executable exists and the bundle's Info.plist names the Gainmesh loader.
bool installed();
// The bundle's CFBundleVersion, or "".
std::string installed_version();
// Wall-clock seconds of the newer of the bundle's Info.plist and loader; 0 when neither exists.
int64_t install_time();
// Waves' own module for console type `which` exists.
bool waves_present(int which);
// True when Gainmesh is installed and Waves' module for the type is present; then *enabled (when
// not null) says whether state.cfg switches the type on (an absent key counts as on).
bool console_installed(int which, bool* enabled);

// Writing into LV1's IO Modules folder, or into the installed bundle, is refused to this process.
bool install_needs_admin();

// Stores "on" or "off" for the console type in state.cfg and tells the loader. False with err
// "Could not write <state.cfg>." when the file could not be written. Blocks on bundle_mutex().
bool set_console_enabled(int which, bool on, std::string& err);

// The console modules this app can put into the bundle: entries "wing-*.dylib" and "x32-*.dylib"
// of the payload's modules folder, then of the per-user mirror, in listing order, as full paths.
// A name found in both folders is listed twice; a missing folder adds nothing.
std::vector<std::string> carried_modules();
// Gainmesh is installed and a carried module's file name is missing from the bundle's modules
// folder (a changed file under a name already there does not count).
bool modules_update_pending();
// Gainmesh is installed and older than what this app would install: Waves' resources changed
// (IOM_VERSION, a new Wfis entry), or this app's version is newer and its loader differs.
bool loader_update_pending();

// Tells a running loader to re-read state.cfg and its modules now. A failure is logged only: the
// loader re-reads its files by itself within 5 s.
void notify_loader();

}  // namespace gm
