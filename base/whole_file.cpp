// Temporary files beside a target, and flushing the folder after a rename.
#include "base/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/paths.h"

namespace gm_base {
namespace {

constexpr int kTempNameTries = 8;

}  // namespace

int create_temp_beside(const std::string& target, mode_t mode, std::atomic<unsigned>& counter,
                       std::string& tmp) {
  const std::string stem = target + ".part." + std::to_string(getpid()) + ".";
  for (int i = 0; i < kTempNameTries; ++i) {
    tmp = stem + std::to_string(counter.fetch_add(1) + 1);
    // O_EXCL with O_CREAT fails on any name that exists, a symbolic link included, so nothing
    // planted there is ever written through; O_NOFOLLOW says the same once more.
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool sync_parent_dir(const std::string& path) {
  const std::string parent = parent_dir(path);
  const std::string dir = parent.empty() ? "." : parent;
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0 || errno == EINVAL;
  const int err = errno;
  close(fd);
  errno = err;
  return synced;
}

}  // namespace gm_base
