// The app core's well-known places, its settings files, whole-file writes and its log.
//
// Threads: every function may be called from any thread. Paths are plain strings built by
// concatenation and read the environment on every call, so a change takes effect at once;
// nothing is cached. cfg_set_line is serialised within the process by a mutex and across
// processes (the console modules inside LV1 edit the same files) by an advisory lock on
// "<file>.lock" beside the file; the atomic rename of write_file lets readers, which take no lock,
// see either the old or the new file, never half of one.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace gm {

// ---- places ----------------------------------------------------------------------------------

// GAINMESH_HOME when set and not empty, else HOME, else the user database's entry, else "/tmp".
std::string home();
// GAINMESH_IO_MODULES, else LV1's "SoundGrid IO Modules" folder.
std::string io_modules_dir();
std::string our_bundle();  // io_modules_dir() + "/Gainmesh.bundle"
std::string bundle_dir();  // our_bundle() + "/Contents/MacOS"
// The executable of Waves' own IO module for console type s (0 WING, 1 X32 / M32); "" for any
// other s.
std::string waves_bin(int s);
std::string con_cfg(int i);  // bundle_dir() + "/<key>.cfg"; "" for a type other than 0 or 1
std::string state_cfg();     // bundle_dir() + "/state.cfg"
std::string support_dir();   // home() + "/Library/Application Support/Gainmesh"
std::string run_dir();       // support_dir() + "/run"
std::string logs_dir();      // home() + "/Library/Logs/Gainmesh"
std::string mirror_modules_dir();  // support_dir() + "/modules"
// The app bundle the core runs from, and its payload folder. Set once by start-up.
std::string app_path();
std::string payload_dir();  // app_path() + "/Contents/Library/Payload"
void set_app_path(const std::string& path);

// ---- console types -----------------------------------------------------------------------------

struct Supported {
  const char* card;     // Waves' card bundle name
  const char* key;      // settings file, state keys and command-line argument
  const char* display;  // shown to the user
  const char* suffix;   // appended to the console status file's name
};
extern const Supported kSupported[2];
// "WING" / "X32 / M32"; "" for any other index.
const char* short_name(int i);

// ---- settings files ------------------------------------------------------------------------------

// The value of `key`: the last line that starts with key immediately followed by "=", up to the
// first line feed, carriage return or ";" (lines taken 255 characters at a time). "" when the
// file cannot be opened or has no such line.
std::string cfg_value(const std::string& path, const std::string& key);
// The advisory lock that every read-change-write of a settings file holds, in the app, its
// administrator step and the console modules inside LV1: an exclusive flock on path + ".lock"
// beside the file (the file itself is replaced by rename, so it cannot carry a lock), held while
// the object lives. The lock file is made when missing (mode 0644, whatever the umask), and
// opened by the rule of no_links.h, never through a planted link. Waits at most
// kSettingsLockWaitSeconds for another holder, so that a program that hangs while holding it
// never hangs the caller; a lock file removed or replaced while this waits (a new bundle swapped
// in) is opened again at its path. Whoever cannot get the lock must not write the file, for
// writing without it could undo the other program's edit. Blocks for up to that long.
inline constexpr int kSettingsLockWaitSeconds = 2;
class SettingsLock {
 public:
  explicit SettingsLock(const std::string& cfg_path);
  ~SettingsLock();
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

  // False when the lock file could not be opened (no folder, no right to make it, a link).
  bool opened() const { return fd_ >= 0; }
  bool locked() const { return locked_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

// Sets `key` to `value`, replacing every line that holds the key and keeping all other lines;
// appends the line when none holds it; creates the file if needed. Writes nothing when the file
// would stay the same. Holds the SettingsLock from reading to writing. False for an empty path, a
// key or value that would not read back as given (an empty key, a key with "=", a ";", CR or
// LF), a lock not had in time (logged; nothing is written then), or a failed write. Blocks for
// the file I/O and up to 2 s for the lock.
bool cfg_set_line(const std::string& path, const std::string& key, const std::string& value);

// ---- files -------------------------------------------------------------------------------------------

// Replaces the whole file atomically: a new temporary file beside it (path + ".part.<pid>.<n>";
// a name already taken, by a file or a link, is skipped, never written through), fsync, rename,
// then fsync of the folder. Keeps the target's permission bits (0644 for a new file). When the
// temporary file cannot be made or written, the target is untouched and the temporary file
// removed. Also false when the folder cannot be flushed after the rename: the new content is in
// place then, but may not survive a power cut.
bool write_file(const std::string& path, const std::vector<unsigned char>& bytes);
bool write_text(const std::string& path, const std::string& text);
// The whole file; false (out unchanged) when it cannot be read or is larger than max bytes.
bool read_file(const std::string& path, std::string& out, size_t max);
bool exists(const std::string& path);
// Creates the folder and its missing parents (mode 0755); true when it exists afterwards.
bool make_dirs(const std::string& path);

// Every change to the installed bundle holds this process-wide recursive mutex.
std::recursive_mutex& bundle_mutex();

// "3.2.0 core · <seven hex digits of the build>".
std::string version_text();

// ---- log -------------------------------------------------------------------------------------------

// One line "YYYY-MM-DD hh:mm:ss.mmm  <message>" appended to logs_dir()/gainmesh-app.log (kept
// with one older generation at 1 MiB), or the bare message on stderr when GAINMESH_LOG_STDERR is
// set. Messages longer than 1023 bytes are cut. Lines of different threads never interleave.
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace gm
