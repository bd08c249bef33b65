// The installer's file-system steps, over POSIX and std::filesystem.
#include "install_files.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace gm {

namespace fs = std::filesystem;

bool list_names(const std::string& dir, std::vector<std::string>& names) {
  names.clear();
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  errno = 0;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const bool ok = errno == 0;
  closedir(d);
  if (!ok) names.clear();
  return ok;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  list_names(dir, names);
  return names;
}

bool remove_tree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
  return !fs::exists(fs::symlink_status(path, ec));
}

bool copy_file_over(const std::string& from, const std::string& to) {
  std::error_code ec;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

bool copy_link(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy_symlink(from, to, ec);
  return !ec;
}

std::string file_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool writable(const std::string& path) {
  return access(path.c_str(), W_OK) == 0;
}

}  // namespace gm
