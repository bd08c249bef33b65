// The app core's places, settings files, whole-file writes and log.
#include "util.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <string_view>
#include <thread>

#include "base/cfg_syntax.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "no_links.h"

#ifndef GM_BUILD_ID
#define GM_BUILD_ID "0000000"
#endif

namespace gm {
namespace {

constexpr const char* kDefaultIoModules = "/Library/Application Support/Waves/SoundGrid IO Modules";
constexpr long kLogRollBytes = 1048576;
constexpr size_t kReaderLine = 255;  // characters of a line a reader takes at once
constexpr size_t kEditorLine = 511;  // and the editor
// How long an edit waits for another program's edit of the same settings file, and how often it
// looks again meanwhile.
constexpr auto kCfgLockWait = std::chrono::seconds(kSettingsLockWaitSeconds);
constexpr auto kCfgLockPoll = std::chrono::milliseconds(1);
// An edit starts at least this long after this process last let go of the lock, so that another
// program polling for it gets its turn during a run of edits here.
constexpr auto kCfgLockHandoff = std::chrono::milliseconds(3);

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::mutex& app_path_mutex() {
  static std::mutex mu;
  return mu;
}
std::string& app_path_value() {
  static std::string path;
  return path;
}

// The whole file; false when it cannot be opened.
bool read_whole(const std::string& path, std::string& out) {
  return read_file(path, out, std::numeric_limits<size_t>::max());
}

// Opens (creating it, mode 0644) the lock file beside a settings file by the rule of
// no_links.h, so that the administrator step never makes or opens a file elsewhere through a
// planted link. Read-only is enough to lock it, so a lock file made by the administrator step
// serves the user as well. -1 when it cannot be opened.
int open_lock_file(const std::string& path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open_no_links(path, O_RDONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
      fchmod(fd, 0644);  // the umask must not keep other users of the bundle out
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = open_no_links(path, O_RDONLY);
    if (fd >= 0 || errno != ENOENT) return fd;  // gone in between: make it again
  }
  return -1;
}

// The descriptor's file is the one at `path` (not one removed or replaced meanwhile).
bool still_at(int fd, const std::string& path) {
  struct stat held {
  }, now{};
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
         held.st_ino == now.st_ino;
}

// When this process last let go of a settings lock, in steady-clock ticks.
std::atomic<std::chrono::steady_clock::rep> g_lock_released{0};

}  // namespace

const Supported kSupported[2] = {
    {"SoundGrid Wing Control", "wing", "Behringer WING", ""},
    {"SoundGrid X-WSG Control", "x32", "Behringer X32 / Midas M32", "-x32"},
};

const char* short_name(int i) { return i == 0 ? "WING" : i == 1 ? "X32 / M32" : ""; }

std::string home() {
  return gm_base::home_dir();
}

std::string io_modules_dir() {
  const std::string v = env("GAINMESH_IO_MODULES");
  return v.empty() ? kDefaultIoModules : v;
}
std::string our_bundle() { return io_modules_dir() + "/Gainmesh.bundle"; }
std::string bundle_dir() { return our_bundle() + "/Contents/MacOS"; }

std::string waves_bin(int s) {
  if (s != 0 && s != 1) return "";
  const std::string card = kSupported[s].card;
  return io_modules_dir() + "/" + card + ".bundle/Contents/MacOS/" + card;
}

std::string con_cfg(int i) {
  if (i != 0 && i != 1) return "";
  return bundle_dir() + "/" + kSupported[i].key + ".cfg";
}
std::string state_cfg() { return bundle_dir() + "/state.cfg"; }
std::string support_dir() {
  return gm_base::support_dir();
}
std::string run_dir() {
  return gm_base::run_dir();
}
std::string logs_dir() {
  return gm_base::logs_dir();
}
std::string mirror_modules_dir() { return support_dir() + "/modules"; }

std::string app_path() {
  std::lock_guard<std::mutex> lock(app_path_mutex());
  return app_path_value();
}
std::string payload_dir() { return app_path() + "/Contents/Library/Payload"; }
void set_app_path(const std::string& path) {
  std::lock_guard<std::mutex> lock(app_path_mutex());
  app_path_value() = path;
}

std::string cfg_value(const std::string& path, const std::string& key) {
  std::string content;
  std::string_view value;
  if (!read_whole(path, content)) return "";
  for (std::string_view line : gm_base::cfg_lines(content, kReaderLine)) {
    if (!gm_base::cfg_holds_key(line, key, gm_base::KeyMatch::kExact)) continue;
    value = gm_base::cfg_value_of(line.substr(key.size() + 1));
  }
  return std::string(value);
}

SettingsLock::SettingsLock(const std::string& cfg_path) {
  using Clock = std::chrono::steady_clock;
  const std::string path = cfg_path + ".lock";
  std::this_thread::sleep_until(Clock::time_point(Clock::duration(g_lock_released.load())) +
                                kCfgLockHandoff);
  const auto until = Clock::now() + kCfgLockWait;
  for (;;) {
    if (fd_ < 0 && (fd_ = open_lock_file(path)) < 0) return;
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      if (still_at(fd_, path)) {
        locked_ = true;
        return;
      }
      // Replaced while this waited (a new bundle swapped in): the file there now is the lock.
      close(fd_);
      fd_ = -1;
    } else if (errno != EWOULDBLOCK && errno != EINTR) {
      return;
    }
    if (Clock::now() >= until) return;
    if (fd_ >= 0) std::this_thread::sleep_for(kCfgLockPoll);
  }
}

SettingsLock::~SettingsLock() {
  if (fd_ >= 0) close(fd_);  // closing the only descriptor releases the lock
  if (locked_) g_lock_released = std::chrono::steady_clock::now().time_since_epoch().count();
}

bool cfg_set_line(const std::string& path, const std::string& key, const std::string& value) {
  if (path.empty() || !gm_base::cfg_storable(key, value)) return false;
  static std::mutex edit_mu;
  std::lock_guard<std::mutex> lock(edit_mu);
  const SettingsLock file_lock(path);
  if (!file_lock.opened()) return false;
  if (!file_lock.locked()) {
    logf("could not lock %s.lock within %d s - %s=%s not saved", path.c_str(),
         kSettingsLockWaitSeconds, key.c_str(), value.c_str());
    return false;
  }
  std::string old;
  const bool opened = read_whole(path, old);
  const std::string content =
      gm_base::cfg_with_line(old, key, key + "=" + value + "\n", gm_base::KeyMatch::kExact,
                             gm_base::Repeats::kReplaceEvery, kEditorLine);
  if (opened && content == old) return true;
  return write_text(path, content);
}

bool write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
  static std::atomic<unsigned> counter{0};
  struct stat st{};
  const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  std::string tmp;
  const int fd = gm_base::create_temp_beside(path, mode, counter, tmp);
  if (fd < 0) return false;
  fchmod(fd, mode);  // the umask must not narrow what the target had
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) {
    // Without this the rename may not outlive a power cut, however well the file was flushed.
    return gm_base::sync_parent_dir(path);
  }
  unlink(tmp.c_str());
  return false;
}

bool write_text(const std::string& path, const std::string& text) {
  return write_file(path, std::vector<unsigned char>(text.begin(), text.end()));
}

bool read_file(const std::string& path, std::string& out, size_t max) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<unsigned long long>(size) > max) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  in.seekg(0);
  in.read(bytes.data(), size);
  if (in.gcount() != size) return false;
  out = std::move(bytes);
  return true;
}

bool exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

bool make_dirs(const std::string& path) {
  return gm_base::make_dirs(path);
}

std::recursive_mutex& bundle_mutex() {
  static auto* mu = new std::recursive_mutex;  // lives until exit, past static destructors
  return *mu;
}

std::string version_text() { return std::string("3.2.0 core \xC2\xB7 ") + GM_BUILD_ID; }

void logf(const char* format, ...) {
  char msg[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(msg, sizeof msg, format, args);
  va_end(args);
  static std::mutex log_mu;
  std::lock_guard<std::mutex> lock(log_mu);
  if (std::getenv("GAINMESH_LOG_STDERR")) {
    std::fprintf(stderr, "%s\n", msg);
    return;
  }
  const std::string dir = logs_dir();
  make_dirs(dir);
  const std::string file = dir + "/gainmesh-app.log";
  struct stat st{};
  if (stat(file.c_str(), &st) == 0 && st.st_size > kLogRollBytes) {
    std::rename(file.c_str(), (dir + "/gainmesh-app.1.log").c_str());
  }
  FILE* f = std::fopen(file.c_str(), "a");
  if (!f) return;
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  std::fprintf(f, "%04d-%02d-%02d %02d:%02d:%02d.%03d  %s\n", local.tm_year + 1900,
               local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
               static_cast<int>(tv.tv_usec / 1000), msg);
  std::fclose(f);
}

}  // namespace gm
