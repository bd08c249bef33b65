// Reading the guest flags from a private copy of LV1's session database.
//
// LV1 keeps the database in a folder every user can write, so its bytes may come from anyone:
// the files are reached without links and copied only up to a size cap, and SQLite reads the
// copy read-only, with its defensive settings and a deadline on every statement. A database
// refused for any of these reasons reads as "no console is shared", with one log line.
#include "lv1db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "no_links.h"
#include "util.h"

namespace gm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultDb = "/Users/Shared/Waves/eMotion/Sessions/CurrentLV1.dat";
constexpr const char* kCopyName = "CurrentLV1.dat";
constexpr int kBusyTimeoutMs = 500;
constexpr const char* kCardQuery =
    "SELECT i.vendor_id, i.device_id, d.owner_uuid FROM device d JOIN device_iobox i ON i.id = "
    "d.id";

// The most a read of the session may cost: disk for the copies, time, and memory for values
// (the card rows hold short ids).
constexpr int64_t kMaxCopyBytes = 64 << 20;  // each of the database and its log
constexpr auto kQueryDeadline = std::chrono::milliseconds(500);
constexpr int kProgressSteps = 1000;     // virtual-machine steps between deadline checks
constexpr int kMaxValueBytes = 1 << 20;  // the longest text or blob SQLite may build

constexpr int kWavesVendor = 11;
constexpr int kNoType = -1;

// How a read ended.
enum class Read {
  kDone,     // the flags hold the database's answer (both false without a database)
  kFailed,   // could not copy, open or query it; the caller keeps what it knew
  kRefused,  // hostile or beyond our bounds: no console counts as shared
};

// The console type of a card row: WING cards are devices 2 and 5, X32-family cards 0, 1, 3, 4.
int card_type(int vendor, int device) {
  if (vendor != kWavesVendor) return kNoType;
  switch (device) {
    case 2:
    case 5:
      return 0;
    case 0:
    case 1:
    case 3:
    case 4:
      return 1;
    default:
      return kNoType;
  }
}

// LV1 marks its own cards with no owner or an all-zero id ("00:00:..." or "0000...").
bool owned_here(const unsigned char* owner) {
  if (!owner) return true;
  for (; *owner; ++owner) {
    if (*owner != '0' && *owner != ':') return false;
  }
  return true;
}

bool write_all(int fd, const char* data, ssize_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= w;
  }
  return true;
}

// One of LV1's files, opened for copying: reached without links and a plain file of at most
// kMaxCopyBytes. kDone with fd -1 when it does not exist; kRefused with `why` set.
Read open_source(const std::string& path, UniqueFd& fd, std::string& why) {
  struct stat st {};
  fd.reset(open_regular(path, st));
  if (fd.get() >= 0) {
    if (st.st_size <= kMaxCopyBytes) return Read::kDone;
    why = last_of(path) + " is larger than 64 MiB";
    return Read::kRefused;
  }
  if (errno == ENOENT) return Read::kDone;
  if (errno != ELOOP && errno != EINVAL) return Read::kFailed;
  why = last_of(path) + (errno == ELOOP ? " is reached through a link" : " is not a plain file");
  return Read::kRefused;
}

// Copies the bytes into a fresh file of our own (0644), whatever the source's permissions, so
// that the next copy can replace it. A source that grows past the cap while it is copied is
// refused; nothing is left at `to` unless the copy is whole.
Read copy_capped(int in, const std::string& from, const std::string& to, std::string& why) {
  unlink(to.c_str());
  UniqueFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  Read result = out.get() >= 0 ? Read::kDone : Read::kFailed;
  int64_t left = kMaxCopyBytes;
  char buf[65536];
  while (result == Read::kDone) {
    const ssize_t n = read(in, buf, static_cast<size_t>(std::min<int64_t>(sizeof buf, left + 1)));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n > left) {
      why = last_of(from) + " is larger than 64 MiB";
      result = Read::kRefused;
    } else if (n < 0 || !write_all(out.get(), buf, n)) {
      result = Read::kFailed;
    }
    left -= n;
  }
  if (out.get() >= 0 && close(out.release()) != 0 && result == Read::kDone) result = Read::kFailed;
  if (result != Read::kDone) unlink(to.c_str());
  return result;
}

// Copies LV1's database and its log (when there is one) into `copy` and `copy` + "-wal". Both
// sources are opened before anything is written, so that a refused log leaves no copy behind.
Read copy_session(const std::string& db, const std::string& copy, bool& none, std::string& why) {
  UniqueFd main, log;
  Read r = open_source(db, main, why);
  if (r != Read::kDone) return r;
  none = main.get() < 0;
  if (none) return Read::kDone;
  if ((r = open_source(db + "-wal", log, why)) != Read::kDone) return r;
  make_dirs(parent_of(copy));
  unlink((copy + "-shm").c_str());
  if ((r = copy_capped(main.get(), db, copy, why)) != Read::kDone) return r;
  if (log.get() < 0) {
    unlink((copy + "-wal").c_str());
    return Read::kDone;
  }
  return copy_capped(log.get(), db + "-wal", copy + "-wal", why);
}

struct Rows {
  int own[2] = {};
  int guest[2] = {};
};

// SQLITE_DONE when every row was counted, else the code that ended the query.
int count_rows(sqlite3* db, Rows& rows) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, kCardQuery, -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    return rc;
  }
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const int type = card_type(sqlite3_column_int(st, 0), sqlite3_column_int(st, 1));
    if (type == kNoType) continue;
    const bool own =
        sqlite3_column_type(st, 2) == SQLITE_NULL || owned_here(sqlite3_column_text(st, 2));
    ++(own ? rows.own : rows.guest)[type];
  }
  sqlite3_finalize(st);
  return rc;
}

// SQLite's settings for a database someone else wrote: no writes to its schema or pages, no
// function the schema names unless it is harmless, and no text or blob beyond kMaxValueBytes.
bool harden(sqlite3* db) {
  int defensive = 0, trusted = 1;
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
  return sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, &defensive) == SQLITE_OK &&
         defensive == 1 &&
         sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &trusted) == SQLITE_OK &&
         trusted == 0;
}

int past_deadline(void* deadline) {
  return Clock::now() >= *static_cast<const Clock::time_point*>(deadline) ? 1 : 0;
}

Read query_copy(const std::string& copy, Rows& rows, std::string& why) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return Read::kFailed;
  }
  Read result = Read::kRefused;
  if (!harden(db)) {
    why = "SQLite would not take its defensive settings";
  } else {
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    Clock::time_point deadline = Clock::now() + kQueryDeadline;
    sqlite3_progress_handler(db, kProgressSteps, past_deadline, &deadline);
    const int rc = count_rows(db, rows);
    if (rc == SQLITE_INTERRUPT) {
      why = "reading it takes longer than 500 ms";
    } else {
      result = rc == SQLITE_DONE ? Read::kDone : Read::kFailed;
    }
  }
  sqlite3_close(db);
  return result;
}

Read read_guests(bool out[2], std::string& why) {
  const std::string copy = support_dir() + "/lv1db/" + kCopyName;
  bool none = false;
  const Read copied = copy_session(lv1_db_path(), copy, none, why);
  if (copied != Read::kDone || none) return copied;
  Rows rows;
  const Read r = query_copy(copy, rows, why);
  if (r != Read::kDone) return r;
  for (int t = 0; t < 2; ++t) out[t] = rows.own[t] == 0 && rows.guest[t] > 0;
  return Read::kDone;
}

// Logs why the database was refused, once for as long as the same reason lasts: the guest watch
// reads it every 15 s. `why` "" (a read that worked) forgets the last reason.
void note_refusal(const std::string& why) {
  static std::mutex mu;
  static std::string last;
  std::lock_guard<std::mutex> lock(mu);
  if (why == last) return;
  last = why;
  if (!why.empty()) {
    logf("guest: LV1's session database not read (%s) - no console counts as shared", why.c_str());
  }
}

}  // namespace

std::string lv1_db_path() {
  const char* env = getenv("GAINMESH_LV1_DB");
  return env && *env ? env : kDefaultDb;
}

bool lv1_guest_consoles(bool out[2]) {
  out[0] = out[1] = false;
  std::string why;
  const Read r = read_guests(out, why);
  if (r == Read::kFailed) return false;
  if (r == Read::kRefused) out[0] = out[1] = false;
  note_refusal(why);
  return true;
}

}  // namespace gm
