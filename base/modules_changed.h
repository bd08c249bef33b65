// The modules-changed notification: the app tells a running loader to re-read state.cfg and its
// modules folder at once. It is the file "org.ambervale.gainmesh.modules-changed" in the run
// folder, rewritten whole (temporary file + rename) with a rising counter; listeners watch the
// folder with inotify. A lost notification only delays the change until the loader's own rescan.
#pragma once

#include <string>

namespace gm_base {

constexpr const char* kModulesChangedName = "org.ambervale.gainmesh.modules-changed";

// run_dir() + "/" + kModulesChangedName.
std::string modules_changed_path();

// Posts the notification (the run folder is created when missing). Any thread. False with `err`
// holding one sentence when the file could not be replaced.
bool post_modules_changed(std::string& err);

// Watches the run folder for the notification. Not thread-safe: one owner thread.
class ModulesChangedWatch {
 public:
  ModulesChangedWatch() = default;
  ~ModulesChangedWatch() { close(); }
  ModulesChangedWatch(const ModulesChangedWatch&) = delete;
  ModulesChangedWatch& operator=(const ModulesChangedWatch&) = delete;

  // Starts watching `dir` (which should exist). False when inotify is unavailable.
  bool open(const std::string& dir);
  // A descriptor that becomes readable when events are pending (for poll), or -1.
  int fd() const { return fd_; }
  // Consumes pending events without blocking; true when one was the notification. Re-adds the
  // watch when the folder was removed and has come back.
  bool drain();
  void close();

 private:
  void rewatch();
  int fd_ = -1;
  int wd_ = -1;
  std::string dir_;
};

}  // namespace gm_base
