// Per-user places of the loader stand-in.
#include "paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace gm_loader {

std::string home_dir() {
  for (const char* name : {"GAINMESH_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  passwd pw{};
  passwd* found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir &&
      *found->pw_dir) {
    return found->pw_dir;
  }
  return "/tmp";
}

std::string run_dir() {
  return home_dir() + "/Library/Application Support/Gainmesh/run";
}

std::string logs_dir() {
  return home_dir() + "/Library/Logs/Gainmesh";
}

std::string parent_dir(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool make_dirs(const std::string& path) {
  struct stat st;
  if (path.empty()) return false;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = parent_dir(path);
  if (!parent.empty() && parent != path && !make_dirs(parent)) return false;
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

}  // namespace gm_loader
