// What the app can tell about the installed Gainmesh.bundle without changing it: whether it is
// there and Gainmesh's, its version and install time, whether a console type is installed and
// switched on, and the notification that tells a running loader to re-read its files.
//
// Threads: any. Nothing is cached: every call reads the file system again, and a call may see a
// bundle that another thread is replacing (it answers from whichever files it finds).
#pragma once

#include <cstdint>
#include <string>

namespace gm {

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

// Tells a running loader to re-read state.cfg and its modules now. A failure is logged only: the
// loader re-reads its files by itself within 5 s.
void notify_loader();

}  // namespace gm
