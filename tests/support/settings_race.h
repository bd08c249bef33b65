// What the tests of whole-file writes and settings locks share: the number a writer's next
// temporary file will carry, so that a test can plant something at that name, and holding a
// settings file's lock the way another program would.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace gmtest {

// Runs `write`, one whole-file write into `dir`, and returns the number the same writer's next
// temporary file ("<target>.part.<pid>.<n>") will carry, read from the folder's inotify events.
// 0 when no temporary file of this process was seen.
inline unsigned next_temp_number(const std::string& dir, const std::function<void()>& write) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, dir.c_str(), IN_CREATE) < 0) return 0;
  write();
  const std::string mark = ".part." + std::to_string(getpid()) + ".";
  unsigned last = 0;
  alignas(inotify_event) char buf[8192];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
    for (char* p = buf; p < buf + n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      const std::string name = e->len ? e->name : "";
      const size_t at = name.find(mark);
      if (at != std::string::npos) last = std::stoul(name.substr(at + mark.size()));
      p += sizeof(inotify_event) + e->len;
    }
  }
  close(fd);
  return last ? last + 1 : 0;
}

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
