// Per-user places the loader stand-in uses: the home folder (GAINMESH_HOME, else HOME), the run
// folder for status blocks and the modules-changed notification, and the log folder.
#pragma once

#include <string>

namespace gm_loader {

// GAINMESH_HOME when set and not empty, else HOME, else the user database's entry, else "/tmp".
// Read on every call.
std::string home_dir();
// home_dir() + "/Library/Application Support/Gainmesh/run".
std::string run_dir();
// home_dir() + "/Library/Logs/Gainmesh".
std::string logs_dir();

// Creates `path` and its missing parents (mode 0755). True when the folder exists afterwards.
bool make_dirs(const std::string& path);
// The part of `path` before its last "/" ("" for a name without one; "/" for "/x").
std::string parent_dir(const std::string& path);

}  // namespace gm_loader
