// LV1's current-session database as the stand-in keeps it: an SQLite database in write-ahead-log
// mode with one `device` row and one `device_iobox` row per SoundGrid card that LV1 has, so that
// the app reads the same shape it reads from LV1. A card is LV1's own (owner_uuid NULL) or shared
// to it by another LV1 (owner_uuid that LV1's id).
//
// Rows: vendor_id 11; device_id 2 for a WING card, 0 for an X32 / M32 card. The type's card in a
// rack slot comes first and carries the type's owner; the further cards of the type stay LV1's
// own (at most 64 of them get rows).
//
// Thread safety: one thread (the command thread). The connection stays open while LV1 runs, so a
// change sits in the -wal file until SQLite checkpoints it.
#pragma once

#include <string>

#include "lv1.h"

struct sqlite3;

namespace lv1host {

class SessionDb {
 public:
  SessionDb() = default;
  ~SessionDb();
  SessionDb(const SessionDb&) = delete;
  SessionDb& operator=(const SessionDb&) = delete;

  // Opens (or creates) the database at path, switches it to write-ahead logging and creates the
  // tables. False with a sentence in err; the object then keeps no database.
  bool open(const std::string& path, std::string& err);
  bool is_open() const { return db_ != nullptr; }

  // The owner of the type's card: "" for LV1 itself, else the id of the LV1 that shares it.
  // Takes effect at the next write().
  void set_owner(int type, const std::string& owner) { owner_[type] = owner; }

  // Replaces every card row by the rack's cards in one transaction. True when there is no
  // database; false with a sentence in err when the write failed (the old rows stay).
  bool write(const RackSetup& rack, std::string& err);

 private:
  bool exec(const char* sql, std::string& err);
  bool insert_card(int id, int type, const std::string& owner, std::string& err);

  sqlite3* db_ = nullptr;
  std::string owner_[kTypes];
};

}  // namespace lv1host
