// Posting and watching the modules-changed notification.
#include "base/modules_changed.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/paths.h"

namespace gm_base {
namespace {

bool write_all(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The counter the file holds now; 0 when it is missing or unreadable.
unsigned long long current_counter(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[32] = {};
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n > 0 ? std::strtoull(buf, nullptr, 10) : 0;
}

}  // namespace

std::string modules_changed_path() {
  return run_dir() + "/" + kModulesChangedName;
}

bool post_modules_changed(std::string& err) {
  const std::string dir = run_dir();
  const std::string path = dir + "/" + kModulesChangedName;
  std::string tmp = dir + "/." + kModulesChangedName + ".XXXXXX";
  const std::string text = std::to_string(current_counter(path) + 1) + "\n";
  const int fd = make_dirs(dir) ? mkostemp(tmp.data(), O_CLOEXEC) : -1;
  bool ok = fd >= 0 && fchmod(fd, 0644) == 0 && write_all(fd, text) && fsync(fd) == 0;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    if (fd >= 0) unlink(tmp.c_str());
    err = "Could not post the modules-changed notification " + path + ".";
  }
  return ok;
}

bool ModulesChangedWatch::open(const std::string& dir) {
  close();
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  dir_ = dir;
  rewatch();
  return fd_ >= 0;
}

void ModulesChangedWatch::rewatch() {
  if (fd_ < 0 || wd_ >= 0) return;
  wd_ = inotify_add_watch(fd_, dir_.c_str(),
                          IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE_SELF);
}

bool ModulesChangedWatch::drain() {
  if (fd_ < 0) return false;
  bool seen = false;
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t off = 0; off < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      if (ev->mask & (IN_IGNORED | IN_DELETE_SELF)) wd_ = -1;
      if (ev->len > 0 && std::strcmp(ev->name, kModulesChangedName) == 0) seen = true;
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
  rewatch();
  return seen;
}

void ModulesChangedWatch::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = wd_ = -1;
}

}  // namespace gm_base
