// bridge_cfg: the module's settings file. Reads it whole at start, picks up the app's edits of a
// few keys while LV1 runs, and writes it back whole or one key at a time.
//
// The app reads and edits the same file at any time, so every write replaces the file atomically
// (temporary file beside it, fsync, rename, then the folder flushed): a reader sees either the
// old or the new content. Every write also holds the advisory lock on "<file>.lock" that the
// app's edits hold, so that neither program's read-change-write undoes the other's.
#include "bridge_cfg.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/cfg_syntax.h"
#include "base/text.h"
#include "base/whole_file.h"
#include "gm_win32.h"
#include "host_services.h"
#include "net_util.h"

namespace gm {
namespace {

constexpr size_t kMaxPathChars = 1023;
constexpr size_t kReadLineChars = 255;  // readers keep this much of each line
constexpr size_t kEditLimit = 16384;    // cfg_set_key edits files below this size only
constexpr size_t kMaxKeyLine = 159;     // "key=value\n" written by cfg_set_key
constexpr uint64_t kRefreshMs = 3000;
constexpr size_t kIpChars = 63;
constexpr size_t kHintChars = 63;
constexpr size_t kConsoleChars = 39;
constexpr size_t kShortChars = 7;  // bank, card, protect group
constexpr const char* kBlanks = " \t";
// How long a write waits for the app's edit of the file (LV1's threads must never hang on a
// program that hangs while holding the lock), and how often it looks again meanwhile.
constexpr int kLockWaitSeconds = 2;
constexpr uint64_t kLockWaitMs = kLockWaitSeconds * 1000;
constexpr DWORD kLockPollMs = 1;
// A write starts at least this long after this module last let go of the lock, so that the app
// polling for it gets its turn during a run of writes here.
constexpr uint64_t kLockHandoffMs = 3;

// What identifies one version of the file for the live pick-up.
struct FileStamp {
  bool exists = false;
  uint64_t write_time = 0;
  uint64_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

// The values this module has changed since it last wrote the file, as bits.
enum Changed : unsigned {
  kChangedBank = 1u << 0,
  kChangedBase = 1u << 1,
  kChangedWatch = 1u << 2,
  kChangedResync = 1u << 3,
};

struct State {
  CfgValues values;
  std::wstring path;
  unsigned changed = 0;  // Changed bits not yet written
  // Protect entries this module added and removed since its last save, each in neither or one.
  std::vector<ProtectEntry> protect_added, protect_removed;
  uint64_t change_count = 0;  // rises with every change, so a save knows what it wrote
  bool refreshed = false;  // cfg_refresh_live has looked at least once
  uint64_t last_refresh_ms = 0;
  bool have_stamp = false;
  FileStamp stamp;
};

std::mutex g_mu;  // guards g_state; never held across file I/O or logging
State g_state;
std::mutex g_write_mu;  // orders this process's read-modify-write cycles of the file
std::atomic<unsigned> g_tmp_counter{0};
uint64_t g_lock_released_ms = 0;  // when the file's lock was last let go; guarded by g_write_mu

// Hands discovery the hint and the forced address after either may have changed. Under g_mu, so
// that the changes arrive in the order they were made.
void name_addresses_locked() {
  net_set_named_addresses(g_state.values.hint.c_str(), g_state.values.ip.c_str());
}

// ---- text helpers ------------------------------------------------------------------------------

std::string cut(std::string s, size_t n) {
  if (s.size() > n) s.resize(n);
  return s;
}

std::string trim_blanks(const std::string& s) {
  size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

std::string value_text(const char* p) {
  return std::string(gm_base::cfg_value_of(p));
}

bool starts_nocase(const std::string& s, const char* prefix) {
  return strncasecmp(s.c_str(), prefix, strlen(prefix)) == 0;
}

// A decimal integer as strtol reads it, held to the int range (0 when there is none).
int to_int(const std::string& s) {
  long v = strtol(s.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

int clamp_watch(long v) {
  return v < 1 ? 1 : v > 64 ? 64 : static_cast<int>(v);
}

bool recall_value(const std::string& v) {
  return !starts_nocase(v, "off");
}

void set_group(ProtectEntry& e, const std::string& group) {
  gm_base::copy_text(e.group, sizeof e.group, group);
}

// ---- reading -----------------------------------------------------------------------------------

// Reads one line, keeping at most `max` characters (the rest of a longer line is skipped, never
// taken as a line of its own) and nothing after a NUL. False at the end of the file.
bool read_line(FILE* f, std::string& line, size_t max) {
  line.clear();
  int c = getc(f);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = getc(f)) {
    if (line.size() < max) line.push_back(static_cast<char>(c));
  }
  line.resize(strlen(line.c_str()));
  return true;
}

FILE* open_shared(const std::wstring& path) {
  if (path.empty()) return nullptr;
  return _wfsopen(path.c_str(), L"r", _SH_DENYNO);
}

// The file's last-write time and size; exists is false when it cannot be examined.
FileStamp file_stamp(const std::wstring& path) {
  FileStamp out;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return out;
  }
  out.exists = true;
  out.write_time =
      (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
  out.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  return out;
}

// ---- the protect list --------------------------------------------------------------------------

// One "<group>:<input>" item; false when it is not of that form or the input is not above 0.
bool parse_protect_item(const std::string& item, ProtectEntry& e) {
  size_t colon = item.find(':');
  if (colon == 0 || colon == std::string::npos) return false;
  long input = 0;
  for (size_t i = colon + 1; i < item.size(); ++i) {
    if (item[i] < '0' || item[i] > '9') return false;
    input = input * 10 + (item[i] - '0');
    if (input > INT_MAX) return false;
  }
  if (input <= 0) return false;
  set_group(e, item.substr(0, colon));
  e.input = static_cast<int>(input);
  return true;
}

std::string protect_log_text(const CfgValues& v) {
  std::string out;
  for (int i = 0; i < v.n_protect; ++i) {
    if (i) out += ", ";
    out += v.protect[i].group;
    out += " " + std::to_string(v.protect[i].input);
  }
  return out;
}

void load_protect(CfgValues& v, const std::string& text, bool log) {
  memset(v.protect, 0, sizeof v.protect);
  v.n_protect = 0;
  size_t pos = 0;
  while (pos <= text.size() && v.n_protect < kMaxProtect) {
    size_t end = text.find_first_of(",; \t", pos);
    if (end == std::string::npos) end = text.size();
    if (parse_protect_item(text.substr(pos, end - pos), v.protect[v.n_protect])) ++v.n_protect;
    pos = end + 1;
  }
  if (log && v.n_protect > 0) {
    logf("[48V] protected inputs (48V will never be switched on): %s", protect_log_text(v).c_str());
  }
}

int find_protect(const CfgValues& v, const std::string& group, int input) {
  for (int i = 0; i < v.n_protect; ++i) {
    if (v.protect[i].input == input && strcasecmp(v.protect[i].group, group.c_str()) == 0) {
      return i;
    }
  }
  return -1;
}

bool same_entry(const ProtectEntry& a, const ProtectEntry& b) {
  return a.input == b.input && strcasecmp(a.group, b.group) == 0;
}

// Notes an entry added (or removed) since the last save: it leaves the other list or joins this.
void note_protect_change(const ProtectEntry& e, std::vector<ProtectEntry>& to,
                         std::vector<ProtectEntry>& other) {
  const auto in_other = std::find_if(other.begin(), other.end(),
                                     [&](const ProtectEntry& o) { return same_entry(o, e); });
  if (in_other != other.end()) {
    other.erase(in_other);
  } else {
    to.push_back(e);
  }
}

// ---- loading -----------------------------------------------------------------------------------

bool load_text_key(CfgValues& v, const std::string& key, const std::string& val) {
  if (strcasecmp(key.c_str(), "ip") == 0) {
    v.ip = cut(trim_blanks(val), kIpChars);
  } else if (strcasecmp(key.c_str(), "hint") == 0) {
    v.hint = cut(trim_blanks(val), kHintChars);
  } else if (strcasecmp(key.c_str(), "console") == 0) {
    v.console = cut(val, kConsoleChars);
  } else if (strcasecmp(key.c_str(), "bank") == 0) {
    v.bank = cut(val, kShortChars);
  } else if (strcasecmp(key.c_str(), "card") == 0) {
    v.card = cut(val, kShortChars);
  } else {
    return false;
  }
  return true;
}

void load_key(CfgValues& v, const std::string& key, const std::string& val, bool log) {
  if (load_text_key(v, key, val)) return;
  const char* k = key.c_str();
  if (strcasecmp(k, "base") == 0) {
    v.base = to_int(val);
  } else if (strcasecmp(k, "watch") == 0) {
    v.watch = clamp_watch(strtol(val.c_str(), nullptr, 10));
  } else if (strcasecmp(k, "notify") == 0) {
    v.notify = to_int(val) != 0;
  } else if (strcasecmp(k, "resync") == 0) {
    v.resync_desk = strcasecmp(val.c_str(), "desk") == 0;
  } else if (strcasecmp(k, "session_recall") == 0) {
    v.session_recall = recall_value(val);
  } else if (strcasecmp(k, "protect") == 0) {
    load_protect(v, val, log);
  } else if (strcasecmp(k, "diag") == 0) {
    v.diag = to_int(val) != 0;
  }
}

// Every setting of the file; `log` logs the protect list it holds.
void load_lines(FILE* f, CfgValues& v, bool log) {
  std::string line;
  while (read_line(f, line, kReadLineChars)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    load_key(v, line.substr(0, eq), value_text(line.c_str() + eq + 1), log);
  }
}

// ---- writing -----------------------------------------------------------------------------------

bool write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the whole file: a new temporary file in the same folder (target + ".part." + pid + "."
// + counter; never one that was already there, nor a link), flushed to disk, renamed over the
// target, then the folder flushed. Keeps the target's permission bits (0644 for a new file). The
// target is never left half written.
bool replace_file(const std::wstring& wpath, const std::string& bytes) {
  std::string path = gm_path_utf8(wpath.c_str());
  struct stat st;
  bool existed = stat(path.c_str(), &st) == 0;
  mode_t mode = existed ? (st.st_mode & 07777) : 0644;
  std::string tmp;
  int fd = gm_base::create_temp_beside(path, mode, g_tmp_counter, tmp);
  if (fd < 0) return false;
  bool ok = (!existed || fchmod(fd, mode) == 0) && write_all(fd, bytes) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && rename(tmp.c_str(), path.c_str()) == 0) return gm_base::sync_parent_dir(path);
  unlink(tmp.c_str());
  return false;
}

HANDLE open_lock_file(const std::wstring& lock_path, DWORD disposition) {
  return CreateFileW(lock_path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The handle's file is the one at `lock_path` (not one removed or replaced meanwhile).
bool still_at(HANDLE h, const std::wstring& lock_path) {
  HANDLE now = open_lock_file(lock_path, OPEN_EXISTING);
  if (now == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  const bool same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(now, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(now);
  return same;
}

// The advisory lock that every write of the settings file holds, in this module and in the app:
// an exclusive lock on "<file>.lock" beside it (the file itself is replaced by rename, so it
// cannot carry one). Waits at most kLockWaitMs; a write that cannot get it does not happen, for
// writing without it could undo the app's edit. A lock file removed or replaced while this waits
// (the app swapping in a new bundle) is opened again at its path. A lock file that cannot be
// opened (no folder, no right to write in it) means the settings file cannot be written either.
// Used under g_write_mu.
class FileLock {
 public:
  explicit FileLock(const std::wstring& path) {
    const std::wstring lock_path = path + L".lock";
    const uint64_t now = gm_now_ms();
    if (now < g_lock_released_ms + kLockHandoffMs) {
      Sleep(static_cast<DWORD>(g_lock_released_ms + kLockHandoffMs - now));
    }
    const uint64_t until = gm_now_ms() + kLockWaitMs;
    for (;;) {
      if (h_ == INVALID_HANDLE_VALUE) h_ = open_lock_file(lock_path, OPEN_ALWAYS);
      if (h_ == INVALID_HANDLE_VALUE) return;
      if (LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                     nullptr)) {
        if (still_at(h_, lock_path)) {
          locked_ = true;
          return;
        }
        CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
      } else if (GetLastError() != ERROR_LOCK_VIOLATION) {
        return;
      }
      if (gm_now_ms() >= until) return;
      if (h_ != INVALID_HANDLE_VALUE) Sleep(kLockPollMs);
    }
  }
  ~FileLock() {
    if (locked_) UnlockFileEx(h_, 0, MAXDWORD, MAXDWORD, nullptr);
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    if (locked_) g_lock_released_ms = gm_now_ms();
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool opened() const { return h_ != INVALID_HANDLE_VALUE; }
  bool locked() const { return locked_; }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
  bool locked_ = false;
};

std::string render(const CfgValues& v, bool diag) {
  std::string out = "; written by Gainmesh - edit while LV1 is closed\n";
  out += "bank=" + v.bank + "\n";
  out += "base=" + std::to_string(v.base) + "\n";
  out += "watch=" + std::to_string(v.watch) + "\n";
  out += std::string("notify=") + (v.notify ? "1" : "0") + "\n";
  out += "card=" + v.card + "\n";
  out += std::string("resync=") + (v.resync_desk ? "desk" : "lv1") + "\n";
  if (v.n_protect > 0) {
    out += "protect=";
    for (int i = 0; i < v.n_protect; ++i) {
      if (i) out += ",";
      out += v.protect[i].group;
      out += ":" + std::to_string(v.protect[i].input);
    }
    out += "\n";
  }
  if (diag) out += "diag=1\n";
  if (!v.ip.empty()) out += "ip=" + v.ip + "\n";
  if (!v.hint.empty()) out += "hint=" + v.hint + "\n";
  if (!v.console.empty()) out += "console=" + v.console + "\n";
  out += std::string("session_recall=") + (v.session_recall ? "on" : "off") + "\n";
  return out;
}

// What a save writes: the file as it is now (the app may have edited it since it was read), with
// the values this module changed put over it. The current values when the file cannot be read.
// Called under the file's lock.
CfgValues merged_with_file(const std::wstring& path, const CfgValues& ours, const State& changes) {
  const unsigned changed = changes.changed;
  FILE* f = open_shared(path);
  if (!f) return ours;
  CfgValues v;
  load_lines(f, v, false);
  fclose(f);
  if (changed & kChangedBank) v.bank = ours.bank;
  if (changed & kChangedBase) v.base = ours.base;
  if (changed & kChangedWatch) v.watch = ours.watch;
  if (changed & kChangedResync) v.resync_desk = ours.resync_desk;
  // The protect list as the file has it, less what this module removed, plus what it added.
  for (const ProtectEntry& gone : changes.protect_removed) {
    const int i = find_protect(v, gone.group, gone.input);
    if (i < 0) continue;
    std::copy(v.protect + i + 1, v.protect + v.n_protect, v.protect + i);
    v.protect[--v.n_protect] = ProtectEntry{};
  }
  for (const ProtectEntry& added : changes.protect_added) {
    if (v.n_protect < kMaxProtect && find_protect(v, added.group, added.input) < 0) {
      v.protect[v.n_protect++] = added;
    }
  }
  return v;
}

// ---- editing one key ---------------------------------------------------------------------------

enum class ReadResult { kOk, kMissing, kTooLarge, kFailed };

// Reads the whole file into `out` when it is smaller than `limit` bytes.
ReadResult read_small_file(const std::wstring& wpath, size_t limit, std::string& out) {
  int fd = open(gm_path_utf8(wpath.c_str()).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  ReadResult result = ReadResult::kOk;
  char buf[4096];
  out.clear();
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = ReadResult::kFailed;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() >= limit) {
      result = ReadResult::kTooLarge;
      break;
    }
  }
  close(fd);
  return result;
}

enum class EditResult { kSaved, kUnchanged, kTooLarge, kNotLocked, kWriteFailed };

EditResult edit_key(const std::wstring& path, const char* key, const std::string& line) {
  std::lock_guard<std::mutex> lock(g_write_mu);
  const FileLock file_lock(path);
  if (!file_lock.opened()) return EditResult::kWriteFailed;
  if (!file_lock.locked()) return EditResult::kNotLocked;
  std::string old;
  ReadResult r = read_small_file(path, kEditLimit, old);
  if (r == ReadResult::kTooLarge) return EditResult::kTooLarge;
  if (r == ReadResult::kFailed) return EditResult::kWriteFailed;
  std::string content = gm_base::cfg_with_line(old, key, line, gm_base::KeyMatch::kIgnoreCase,
                                               gm_base::Repeats::kKeepFirst);
  if (content.size() >= kEditLimit) return EditResult::kTooLarge;
  if (r == ReadResult::kOk && content == old) return EditResult::kUnchanged;
  return replace_file(path, content) ? EditResult::kSaved : EditResult::kWriteFailed;
}

// ---- live pick-up ------------------------------------------------------------------------------

struct LiveLines {
  bool has_diag = false;
  bool diag = false;
  bool has_recall = false;
  bool recall = true;
};

bool read_live_lines(const std::wstring& path, LiveLines& out) {
  FILE* f = open_shared(path);
  if (!f) return false;
  std::string line;
  while (read_line(f, line, kReadLineChars)) {
    if (gm_base::cfg_holds_key(line, "diag", gm_base::KeyMatch::kExact)) {
      out.has_diag = true;
      out.diag = to_int(value_text(line.c_str() + 5)) != 0;
    } else if (gm_base::cfg_holds_key(line, "session_recall", gm_base::KeyMatch::kExact)) {
      out.has_recall = true;
      out.recall = recall_value(value_text(line.c_str() + 15));
    }
  }
  fclose(f);
  return true;
}

// True when the file is there and changed since the last look. The first look without a stamp
// from load_cfg only remembers it; a vanished file is remembered so that its return counts.
bool file_changed(const std::wstring& path, FileStamp& stamp) {
  stamp = file_stamp(path);
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_state.have_stamp && g_state.stamp == stamp) return false;
  if (g_state.have_stamp && stamp.exists) return true;
  g_state.have_stamp = true;
  g_state.stamp = stamp;
  return false;
}

void apply_live(const LiveLines& live) {
  if (live.has_recall) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_state.values.session_recall = live.recall;
  }
  if (live.has_diag && live.diag != (detail_level() >= 2)) {
    set_detail_level(live.diag ? 2 : 1);
    logf("[cfg] detailed logging %s (changed in gainmesh settings)", live.diag ? "ON" : "off");
  }
}

// ---- pin reload --------------------------------------------------------------------------------

std::string pin_value(const char* p, size_t max) {
  p += strspn(p, kBlanks);
  std::string v = value_text(p);
  v.erase(v.find_last_not_of(kBlanks) + 1);
  return cut(v, max);
}

bool read_pin_lines(const std::wstring& path, std::string& ip, std::string& console) {
  FILE* f = open_shared(path);
  if (!f) return false;
  std::string line;
  while (read_line(f, line, kReadLineChars)) {
    using gm_base::KeyMatch;
    if (gm_base::cfg_holds_key(line, "ip", KeyMatch::kIgnoreCase)) {
      ip = pin_value(line.c_str() + 3, kIpChars);
    }
    if (gm_base::cfg_holds_key(line, "console", KeyMatch::kIgnoreCase)) {
      console = pin_value(line.c_str() + 8, kConsoleChars);
    }
  }
  fclose(f);
  return true;
}

std::wstring current_path() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.path;
}

}  // namespace

void load_cfg() {
  std::wstring host_path = gm_cfg_path();
  std::wstring path = host_path.size() <= kMaxPathChars ? host_path : std::wstring();
  FileStamp stamp = file_stamp(path);
  CfgValues v;
  FILE* f = open_shared(path);
  if (!f) {
    logf("[cfg] no %S - using defaults", host_path.c_str());
  } else {
    logf("[cfg] using %S", path.c_str());
    load_lines(f, v, true);
    fclose(f);
  }
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_state = State{};
    g_state.values = v;
    g_state.path = path;
    g_state.have_stamp = !path.empty();
    g_state.stamp = f ? stamp : FileStamp{};
    name_addresses_locked();
  }
  set_detail_level(v.diag ? 2 : 1);
}

void save_cfg() {
  std::wstring path;
  bool busy, ok = false;
  {
    std::lock_guard<std::mutex> write_lock(g_write_mu);
    path = current_path();
    if (path.empty()) return;
    const FileLock file_lock(path);
    busy = file_lock.opened() && !file_lock.locked();
    if (file_lock.locked()) {
      State changes;
      {
        std::lock_guard<std::mutex> lock(g_mu);
        changes.changed = g_state.changed;
        changes.protect_added = g_state.protect_added;
        changes.protect_removed = g_state.protect_removed;
        changes.change_count = g_state.change_count;
      }
      const CfgValues v = merged_with_file(path, cfg_snapshot(), changes);
      ok = replace_file(path, render(v, v.diag));
      std::lock_guard<std::mutex> lock(g_mu);
      if (ok && g_state.change_count == changes.change_count) {
        g_state.changed = 0;
        g_state.protect_added.clear();
        g_state.protect_removed.clear();
      }
    }
  }
  if (busy) {
    logf("[cfg] could not lock %S.lock within %d s - settings not saved", path.c_str(),
         kLockWaitSeconds);
  } else if (ok) {
    logf("[cfg] saved %S", path.c_str());
  } else {
    logf("[cfg] could not write %S", path.c_str());
  }
}

bool cfg_set_key(const char* key, const char* value) {
  if (!key || !value || !gm_base::cfg_storable(key, value)) return false;
  std::string line = std::string(key) + "=" + value + "\n";
  std::wstring path = current_path();
  if (line.size() > kMaxKeyLine || path.empty()) return false;
  switch (edit_key(path, key, line)) {
    case EditResult::kUnchanged:
      return true;
    case EditResult::kSaved:
      logf("[cfg] %s=%s saved", key, value);
      return true;
    case EditResult::kTooLarge:
      logf("[cfg] %S is too large to edit - %s not saved", path.c_str(), key);
      return false;
    case EditResult::kNotLocked:
      logf("[cfg] could not lock %S.lock within %d s - %s not saved", path.c_str(),
           kLockWaitSeconds, key);
      return false;
    case EditResult::kWriteFailed:
      break;
  }
  logf("[cfg] could not write %S", path.c_str());
  return false;
}

void cfg_refresh_live(uint64_t now_ms) {
  std::wstring path;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    if (g_state.refreshed && now_ms - g_state.last_refresh_ms < kRefreshMs) return;
    g_state.refreshed = true;
    g_state.last_refresh_ms = now_ms;
    path = g_state.path;
  }
  FileStamp stamp;
  LiveLines live;
  if (!file_changed(path, stamp) || !read_live_lines(path, live)) return;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_state.stamp = stamp;
  }
  apply_live(live);
}

void cfg_reload_pin() {
  std::string ip, console;
  if (!read_pin_lines(current_path(), ip, console)) return;
  bool ip_changed, console_changed;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    ip_changed = g_state.values.ip != ip;
    console_changed = g_state.values.console != console;
    g_state.values.ip = ip;
    g_state.values.console = console;
    name_addresses_locked();
  }
  if (ip_changed) {
    logf("[cfg] ip= %s", ip.empty() ? "(cleared - discovery finds the console)" : ip.c_str());
  }
  if (console_changed) logf("[cfg] console= %s", console.empty() ? "(cleared)" : console.c_str());
}

CfgValues cfg_snapshot() {
  CfgValues v;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    v = g_state.values;
  }
  v.diag = detail_level() >= 2;
  return v;
}

int cfg_base() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.base;
}

int cfg_watch() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.watch;
}

bool cfg_notify() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.notify;
}

bool cfg_resync_desk() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.resync_desk;
}

bool cfg_session_recall() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.session_recall;
}

std::string cfg_bank() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.bank;
}

std::string cfg_card() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.card;
}

std::string cfg_ip() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.ip;
}

std::string cfg_console() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.console;
}

std::string cfg_hint() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_state.values.hint;
}

void cfg_apply_request(const char* bank, int base, int watch, bool resync_desk) {
  std::string new_bank = bank ? cut(value_text(bank), kShortChars) : "";
  std::lock_guard<std::mutex> lock(g_mu);
  g_state.changed |= kChangedResync;
  if (!new_bank.empty()) g_state.changed |= kChangedBank;
  if (base > 0) g_state.changed |= kChangedBase;
  if (watch > 0) g_state.changed |= kChangedWatch;
  ++g_state.change_count;
  if (!new_bank.empty()) g_state.values.bank = new_bank;
  if (base > 0) g_state.values.base = base;
  if (watch > 0) g_state.values.watch = clamp_watch(watch);
  g_state.values.resync_desk = resync_desk;
}

void cfg_set_hint(const char* hint) {
  std::string v = hint ? cut(trim_blanks(value_text(hint)), kHintChars) : "";
  std::lock_guard<std::mutex> lock(g_mu);
  g_state.values.hint = v;
  name_addresses_locked();
}

bool cfg_is_protected(const char* group, int input) {
  if (!group) return false;
  std::string g = cut(group, kShortChars);
  std::lock_guard<std::mutex> lock(g_mu);
  return find_protect(g_state.values, g, input) >= 0;
}

bool cfg_group_storable(const char* group) {
  return group && *group && !strpbrk(group, ",:; \t\r\n");
}

bool cfg_protect_add(const char* group, int input) {
  if (!cfg_group_storable(group) || input <= 0) return false;
  std::string g = cut(group, kShortChars);
  std::lock_guard<std::mutex> lock(g_mu);
  CfgValues& v = g_state.values;
  if (v.n_protect >= kMaxProtect || find_protect(v, g, input) >= 0) return false;
  set_group(v.protect[v.n_protect], g);
  v.protect[v.n_protect].input = input;
  note_protect_change(v.protect[v.n_protect], g_state.protect_added, g_state.protect_removed);
  ++v.n_protect;
  ++g_state.change_count;
  return true;
}

bool cfg_protect_remove(const char* group, int input) {
  if (!group) return false;
  std::string g = cut(group, kShortChars);
  std::lock_guard<std::mutex> lock(g_mu);
  CfgValues& v = g_state.values;
  int i = find_protect(v, g, input);
  if (i < 0) return false;
  note_protect_change(v.protect[i], g_state.protect_removed, g_state.protect_added);
  // The last entry takes the removed one's place.
  v.protect[i] = v.protect[--v.n_protect];
  v.protect[v.n_protect] = ProtectEntry{};
  ++g_state.change_count;
  return true;
}

int cfg_protect_copy(ProtectEntry out[kMaxProtect]) {
  std::lock_guard<std::mutex> lock(g_mu);
  memcpy(out, g_state.values.protect, sizeof g_state.values.protect);
  return g_state.values.n_protect;
}

void cfg_reset() {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_state = State{};
    name_addresses_locked();
  }
  set_detail_level(1);
}

}  // namespace gm
