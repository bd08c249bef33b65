// Writing LV1's card rows into its session database.
#include "session_db.h"

#include <sqlite3.h>

namespace lv1host {
namespace {

constexpr int kWavesVendor = 11;
constexpr int kDeviceId[kTypes] = {2, 0};  // WING, X32 / M32

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS device ("
    " id INTEGER PRIMARY KEY, owner_uuid TEXT, name TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS device_iobox ("
    " id INTEGER PRIMARY KEY REFERENCES device(id), vendor_id INTEGER NOT NULL,"
    " device_id INTEGER NOT NULL, slot INTEGER NOT NULL);";

// A rack has far fewer slots; the extra-card count itself is any number a test sets.
constexpr uint32_t kMaxExtraRows = 64;

constexpr const char* kTypeNames[kTypes] = {"WING", "X32 / M32"};

}  // namespace

SessionDb::~SessionDb() {
  sqlite3_close(db_);
}

bool SessionDb::exec(const char* sql, std::string& err) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
  err =
      std::string("The session database refused a change: ") + (msg ? msg : "unknown error") + ".";
  sqlite3_free(msg);
  return false;
}

bool SessionDb::open(const std::string& path, std::string& err) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    err = "Cannot open the session database " + path + ": " + sqlite3_errmsg(db_) + ".";
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  if (!exec("PRAGMA journal_mode=WAL;", err) || !exec(kSchema, err)) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

bool SessionDb::insert_card(int id, int type, const std::string& owner, std::string& err) {
  sqlite3_stmt* dev = nullptr;
  sqlite3_stmt* box = nullptr;
  bool ok = sqlite3_prepare_v2(db_, "INSERT INTO device (id, owner_uuid, name) VALUES (?, ?, ?)",
                               -1, &dev, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db_,
                               "INSERT INTO device_iobox (id, vendor_id, device_id, slot) "
                               "VALUES (?, ?, ?, ?)",
                               -1, &box, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int(dev, 1, id);
    if (owner.empty()) {
      sqlite3_bind_null(dev, 2);
    } else {
      sqlite3_bind_text(dev, 2, owner.c_str(), -1, SQLITE_TRANSIENT);
    }
    sqlite3_bind_text(dev, 3, kTypeNames[type], -1, SQLITE_STATIC);
    sqlite3_bind_int(box, 1, id);
    sqlite3_bind_int(box, 2, kWavesVendor);
    sqlite3_bind_int(box, 3, kDeviceId[type]);
    sqlite3_bind_int(box, 4, id);
    ok = sqlite3_step(dev) == SQLITE_DONE && sqlite3_step(box) == SQLITE_DONE;
  }
  if (!ok) {
    err = std::string("The session database refused a card row: ") + sqlite3_errmsg(db_) + ".";
  }
  sqlite3_finalize(dev);
  sqlite3_finalize(box);
  return ok;
}

bool SessionDb::write(const RackSetup& rack, std::string& err) {
  if (!db_) return true;
  std::string ignored;
  if (!exec("BEGIN IMMEDIATE; DELETE FROM device_iobox; DELETE FROM device;", err)) {
    exec("ROLLBACK;", ignored);
    return false;
  }
  int id = 1;
  bool ok = true;
  for (int t = 0; t < kTypes && ok; ++t) {
    const RackSlot& slot = rack.slot[t];
    if (slot.card_in) ok = insert_card(id++, t, owner_[t], err);
    const uint32_t extra = slot.extra < kMaxExtraRows ? slot.extra : kMaxExtraRows;
    for (uint32_t n = 0; n < extra && ok; ++n) ok = insert_card(id++, t, "", err);
  }
  if (!ok || !exec("COMMIT;", err)) {
    exec("ROLLBACK;", ignored);
    return false;
  }
  return true;
}

}  // namespace lv1host
