// Reading the guest flags from a private copy of LV1's session database.
#include "lv1db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "util.h"

namespace gm {
namespace {

constexpr const char* kDefaultDb = "/Users/Shared/Waves/eMotion/Sessions/CurrentLV1.dat";
constexpr const char* kCopyName = "CurrentLV1.dat";
constexpr int kBusyTimeoutMs = 500;
constexpr const char* kCardQuery =
    "SELECT i.vendor_id, i.device_id, d.owner_uuid FROM device d JOIN device_iobox i ON i.id = "
    "d.id";

constexpr int kWavesVendor = 11;
constexpr int kNoType = -1;

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

// Copies the bytes into a fresh file of our own (0644), whatever the source's permissions, so
// that the next copy can replace it and SQLite can open it for writing.
bool copy_file(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  unlink(to.c_str());
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = out >= 0;
  char buf[65536];
  while (ok) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = write_all(out, buf, n);
  }
  if (out >= 0 && close(out) != 0) ok = false;
  close(in);
  return ok;
}

// Copies LV1's database and its log into dir; the name of the copy, or "" on failure.
std::string copy_session(const std::string& db, const std::string& dir) {
  const std::string copy = dir + "/" + kCopyName;
  unlink((copy + "-shm").c_str());
  if (!copy_file(db, copy)) return "";
  if (exists(db + "-wal")) {
    if (!copy_file(db + "-wal", copy + "-wal")) return "";
  } else {
    unlink((copy + "-wal").c_str());
  }
  return copy;
}

struct Rows {
  int own[2] = {};
  int guest[2] = {};
};

bool count_rows(sqlite3* db, Rows& rows) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, kCardQuery, -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const int type = card_type(sqlite3_column_int(st, 0), sqlite3_column_int(st, 1));
    if (type == kNoType) continue;
    const bool own =
        sqlite3_column_type(st, 2) == SQLITE_NULL || owned_here(sqlite3_column_text(st, 2));
    ++(own ? rows.own : rows.guest)[type];
  }
  sqlite3_finalize(st);
  return rc == SQLITE_DONE;
}

}  // namespace

std::string lv1_db_path() {
  const char* env = getenv("GAINMESH_LV1_DB");
  return env && *env ? env : kDefaultDb;
}

bool lv1_guest_consoles(bool out[2]) {
  out[0] = out[1] = false;
  const std::string db_path = lv1_db_path();
  if (!exists(db_path)) return true;
  const std::string dir = support_dir() + "/lv1db";
  make_dirs(dir);
  const std::string copy = copy_session(db_path, dir);
  if (copy.empty()) return false;

  sqlite3* db = nullptr;
  if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  Rows rows;
  const bool ok = count_rows(db, rows);
  sqlite3_close(db);
  if (!ok) return false;
  for (int t = 0; t < 2; ++t) out[t] = rows.own[t] == 0 && rows.guest[t] > 0;
  return true;
}

}  // namespace gm
