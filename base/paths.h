// Per-user places shared by the module, the loader and the app: the home folder, the support,
// run and log folders below it, and making folders.
//
// Threads: every function may be called from any thread. Nothing is cached: the environment is
// read on every call, so a changed GAINMESH_HOME takes effect at once.
#pragma once

#include <string>

namespace gm_base {

// GAINMESH_HOME when set and not empty, else HOME when set and not empty, else the user
// database's home folder of the current user, else "/tmp".
std::string home_dir();

// The folders below a given home; the forms without an argument use home_dir().
std::string support_dir(const std::string& home);  // home + "/Library/Application Support/Gainmesh"
std::string run_dir(const std::string& home);      // support_dir(home) + "/run"
std::string logs_dir(const std::string& home);     // home + "/Library/Logs/Gainmesh"
std::string support_dir();
std::string run_dir();
std::string logs_dir();

// Creates `path` and its missing parents (mode 0755, narrowed by the umask). True when `path` is
// a folder afterwards; false for "".
bool make_dirs(const std::string& path);
// The part of `path` before its last "/" ("" for a name without one; "/" for "/x").
std::string parent_dir(const std::string& path);

}  // namespace gm_base
