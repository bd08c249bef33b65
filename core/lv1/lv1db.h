// LV1's current-session database: which console cards this LV1 only uses as a guest (shared to it
// by another LV1, so that only that LV1 may drive the console's preamps), and a watch that says
// when the database changes.
//
// Console type indexes are those of kSupported: 0 WING, 1 X32 / M32.
#pragma once

#include <functional>
#include <string>

namespace gm {

// GAINMESH_LV1_DB when set and not empty, else
// "/Users/Shared/Waves/eMotion/Sessions/CurrentLV1.dat".
std::string lv1_db_path();

// Reads the database once into out[type] (true: this LV1's card of that type is only a guest).
// A type is a guest when it has card rows and all of them belong to another LV1.
//
// Never opens LV1's own files with SQLite: the database and its write-ahead log (when present)
// are copied into support_dir() + "/lv1db" and read there, read-only; LV1's shared-memory index
// is never copied. True with both flags false when there is no database file (nothing is written
// then). False when the database could not be copied, opened or queried; out is then
// meaningless.
//
// Anyone may write LV1's Sessions folder, so the database is treated as hostile: a file reached
// through a link, one that is not a plain file, a database or log larger than 64 MiB, and a
// query that runs longer than 500 ms are refused. A refused database reads as no console shared
// (true, both flags false) and is logged once for as long as the same reason lasts.
//
// Blocks on file copies and on SQLite, about a second at most. Any thread, but one at a time:
// calls share the copy folder.
bool lv1_guest_consoles(bool out[2]);

// Starts watching the database's folder, the database file and its "-wal" file (idempotent
// while watching) and logs "guest: watching <folder>" when it starts. After every batch of file
// events, callback runs on the watch thread, which lives as long as the process; it must not
// block for long. Replaced database or log files are picked up; when the folder itself goes,
// watching stops until a later call starts over with that call's callback. Returns whether
// watching is active; false when the folder does not exist. Any thread.
bool lv1_watch_session(std::function<void()> callback);

}  // namespace gm
