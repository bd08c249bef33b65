// Watching LV1's session database with inotify: its folder, the database file and the "-wal"
// file beside it, from one thread per watch. lv1_watch_session() keeps the process's watch; a
// test may run one of its own.
//
// Threads: start() may be called from any thread; it arms the watches under the same lock that
// the watch thread holds while it handles events, so the watches are only ever touched by one
// thread at a time. The callback runs on the watch thread, outside that lock.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace gm {

class SessionWatch {
 public:
  using Callback = std::function<void()>;

  SessionWatch() = default;
  // Stops the watch thread and waits for it (a callback in progress finishes first).
  ~SessionWatch();
  SessionWatch(const SessionWatch&) = delete;
  SessionWatch& operator=(const SessionWatch&) = delete;

  // Starts watching db (idempotent while watching): its folder, db and db + "-wal"; either file
  // may appear later. Keeps callback until the next start. Logs "guest: watching <folder>" when
  // it starts. False when the folder cannot be watched (or inotify or the thread is not
  // available).
  bool start(const std::string& db, Callback callback);
  // False again once the folder was deleted, renamed or unmounted.
  bool watching() const { return watching_; }

 private:
  static constexpr int kFolder = 0, kDatabase = 1, kLog = 2, kPaths = 3;
  struct Slot {
    int wd = -1;  // inotify watch, -1 for none
    dev_t dev = 0;
    ino_t ino = 0;
  };

  bool open_thread();                  // lock held
  bool arm(int i);                     // lock held
  void cancel(int i);                  // lock held
  bool handle(int wd, uint32_t mask);  // lock held; true when the event was one of ours
  void run();

  std::mutex mu_;
  std::string path_[kPaths];
  Slot slot_[kPaths];
  Callback callback_;
  std::atomic<bool> watching_{false};
  int inotify_fd_ = -1;
  int wake_fd_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace gm
