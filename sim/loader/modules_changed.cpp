// Posting and watching the modules-changed notification.
#include "modules_changed.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "paths.h"
#include "signature.h"

namespace gm_loader {
namespace {

std::atomic<unsigned> g_tmp_counter{0};

bool write_all(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

unsigned long long current_counter(const std::string& path) {
  std::string text;
  if (!read_file(path, text, 64)) return 0;
  return std::strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

std::string modules_changed_path() {
  return run_dir() + "/" + kModulesChangedName;
}

bool post_modules_changed(std::string& err) {
  const std::string dir = run_dir();
  const std::string path = dir + "/" + kModulesChangedName;
  const std::string tmp = dir + "/." + kModulesChangedName + "." + std::to_string(getpid()) + "." +
                          std::to_string(++g_tmp_counter);
  const std::string text = std::to_string(current_counter(path) + 1) + "\n";
  const int fd =
      make_dirs(dir) ? open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  bool ok = fd >= 0 && write_all(fd, text) && fsync(fd) == 0;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
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

}  // namespace gm_loader
