// Holding a settings file's lock the way another program does, for the tests of the app's and
// the module's settings edits.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

namespace gmtest {

// Holds the exclusive lock on "<settings file>.lock" while it lives, as the other program does
// during an edit; -1 in fd() when the lock file could not be opened or locked.
class HeldCfgLock {
 public:
  explicit HeldCfgLock(const std::string& cfg_path)
      : fd_(open((cfg_path + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) release();
  }
  ~HeldCfgLock() { release(); }
  HeldCfgLock(const HeldCfgLock&) = delete;
  HeldCfgLock& operator=(const HeldCfgLock&) = delete;

  int fd() const { return fd_; }
  void release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace gmtest
