// Per-user places.
#include "base/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace gm_base {
namespace {

std::string passwd_home() {
  const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 16384);
  passwd pw{};
  passwd* found = nullptr;
  while (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == ERANGE &&
         buf.size() < (size_t{1} << 20)) {
    buf.resize(buf.size() * 2);
  }
  return found && found->pw_dir ? found->pw_dir : "";
}

}  // namespace

std::string home_dir() {
  for (const char* name : {"GAINMESH_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  const std::string home = passwd_home();
  return home.empty() ? "/tmp" : home;
}

std::string support_dir(const std::string& home) {
  return home + "/Library/Application Support/Gainmesh";
}
std::string run_dir(const std::string& home) {
  return support_dir(home) + "/run";
}
std::string logs_dir(const std::string& home) {
  return home + "/Library/Logs/Gainmesh";
}
std::string support_dir() {
  return support_dir(home_dir());
}
std::string run_dir() {
  return run_dir(home_dir());
}
std::string logs_dir() {
  return logs_dir(home_dir());
}

std::string parent_dir(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool make_dirs(const std::string& path) {
  struct stat st {};
  if (path.empty()) return false;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = parent_dir(path);
  if (!parent.empty() && parent != path && !make_dirs(parent)) return false;
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

}  // namespace gm_base
