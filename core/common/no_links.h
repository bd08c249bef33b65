// Opening files and folders without following symbolic links that someone else could have
// planted. The administrator step reads and writes below folders the user owns; a link there
// must never lead a process running as root to another file.
//
// The rule: a file at the end of a path is never reached through a link. A folder on the way is
// reached through one only when this process could have made it itself or root did: the link is
// owned by root or by the effective user, and so is the folder holding it, which nobody else may
// write to. So macOS's /tmp -> private/tmp is followed, a link in the user's home is not (for
// root).
//
// Threads: any; nothing here keeps state or logs. Each call blocks on the file system only.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace gm {

// A file descriptor closed when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(-1); }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// open(2) of `path` by the rule above (O_NOFOLLOW and O_CLOEXEC are added to `flags`). -1 with
// errno set on failure: ELOOP when a link was refused.
int open_no_links(const std::string& path, int flags, mode_t mode = 0);

// A folder opened by the rule above (O_PATH where there is one) for use as the base of the *at
// calls; with `create`, missing folders along the path are created with mode 0755. -1 with errno
// set on failure.
int open_folder_no_links(const std::string& path, bool create);

// A regular file opened for reading by the rule above, its status in `st`. -1 when it cannot be
// opened or is not a regular file (a folder, a device, a pipe), errno then EINVAL. Never blocks
// on a pipe.
int open_regular(const std::string& path, struct stat& st);

// The folder part and the last component of a path ("a/b" -> "a", "b"; "b" -> ".", "b").
std::string parent_of(const std::string& path);
std::string last_of(const std::string& path);

}  // namespace gm
