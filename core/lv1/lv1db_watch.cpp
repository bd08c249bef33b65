// The session database watch: inotify watches on the folder and the two files, re-armed when
// LV1 replaces a file, and one thread that reads the events.
#include "lv1db_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lv1db.h"
#include "util.h"

namespace gm {
namespace {

// Entries made, removed or renamed in the folder, and the folder itself going.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A file written or grown, deleted or renamed.
constexpr uint32_t kFileEvents = IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF;
// The watched object is gone from its path (IN_IGNORED: the kernel dropped the watch).
constexpr uint32_t kGoneEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

SessionWatch::~SessionWatch() {
  if (thread_.joinable()) {
    const char byte = 0;
    while (write(wake_fd_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int fd : {inotify_fd_, wake_fd_[0], wake_fd_[1]}) {
    if (fd >= 0) close(fd);
  }
}

bool SessionWatch::open_thread() {
  if (thread_.joinable()) return true;
  if (inotify_fd_ < 0) inotify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (wake_fd_[0] < 0 && pipe2(wake_fd_, O_CLOEXEC) != 0) wake_fd_[0] = wake_fd_[1] = -1;
  if (inotify_fd_ < 0 || wake_fd_[0] < 0) return false;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

// Watches path i unless its slot already watches the file that is at the path now. A file that
// was replaced keeps its old watch until the old file is really gone (it may still be open), so
// the path's current file is compared, not just whether the slot is taken.
bool SessionWatch::arm(int i) {
  struct stat st {};
  if (stat(path_[i].c_str(), &st) != 0) {
    cancel(i);
    return false;
  }
  Slot& s = slot_[i];
  if (s.wd >= 0 && s.dev == st.st_dev && s.ino == st.st_ino) return true;
  cancel(i);
  const int wd =
      inotify_add_watch(inotify_fd_, path_[i].c_str(), i == kFolder ? kFolderEvents : kFileEvents);
  if (wd < 0) return false;
  s = Slot{wd, st.st_dev, st.st_ino};
  return true;
}

void SessionWatch::cancel(int i) {
  Slot& s = slot_[i];
  if (s.wd < 0) return;
  inotify_rm_watch(inotify_fd_, s.wd);
  s = Slot{};
}

bool SessionWatch::handle(int wd, uint32_t mask) {
  bool ours = mask & IN_Q_OVERFLOW;  // events were lost: look at every path again
  for (int i = 0; i < kPaths; ++i) {
    if (wd < 0 || slot_[i].wd != wd) continue;
    ours = true;
    if (!(mask & kGoneEvents)) continue;
    slot_[i] = Slot{};  // the kernel drops the watch itself
    if (i == kFolder) {
      cancel(kDatabase);
      cancel(kLog);
      watching_ = false;
    }
  }
  if (ours && watching_) {
    arm(kDatabase);
    arm(kLog);
  }
  return ours;
}

bool SessionWatch::start(const std::string& db, Callback callback) {
  if (watching_) return true;
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (watching_) return true;
    if (!open_thread()) return false;
    callback_ = std::move(callback);
    for (int i = 0; i < kPaths; ++i) cancel(i);
    path_[kFolder] = parent_of(db);
    path_[kDatabase] = db;
    path_[kLog] = db + "-wal";
    if (!arm(kFolder)) return false;
    arm(kDatabase);
    arm(kLog);
    watching_ = true;
    folder = path_[kFolder];
  }
  logf("guest: watching %s", folder.c_str());
  return true;
}

void SessionWatch::run() {
  pthread_setname_np(pthread_self(), "gm-lv1db");
  alignas(inotify_event) char buf[16 * (sizeof(inotify_event) + 256)];
  for (;;) {
    pollfd fds[2] = {{inotify_fd_, POLLIN, 0}, {wake_fd_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const ssize_t n = read(inotify_fd_, buf, sizeof buf);
    if (n <= 0) continue;
    bool any = false;
    Callback callback;
    {
      std::lock_guard<std::mutex> lock(mu_);
      for (ssize_t at = 0; at < n;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
        any |= handle(ev->wd, ev->mask);
        at += sizeof(inotify_event) + ev->len;
      }
      callback = callback_;
    }
    if (any && callback) callback();
  }
}

bool lv1_watch_session(std::function<void()> callback) {
  // Lives as long as the process, like its thread.
  static SessionWatch* const watch = new SessionWatch();
  return watch->start(lv1_db_path(), std::move(callback));
}

}  // namespace gm
