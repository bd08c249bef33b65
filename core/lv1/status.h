// Reading the status blocks that the loader and the console modules publish inside LV1, and
// posting a settings request back to a running console module.
//
// A block counts only while the running LV1 holds its file open; a file left by an earlier LV1
// run reads as absent (which descriptor held each block is remembered, see block_watch.h).
// Every read opens, maps, copies and unmaps the file, and the result describes that moment. The blocks are written by other processes without locks,
// so a single field may be seen torn between two updates; each field is copied once.
//
// Threads: any thread. Blocking: reads /proc and small files. Failures read as absent (valid
// false, or false); nothing logs or throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "loader_layout.h"
#include "lv1.h"

namespace gm {

// Which blocks the running LV1 holds open.
struct Live {
  bool loader = false;
  bool con[2] = {false, false};  // by console type: 0 WING, 1 X32 / M32
};

struct ConCandidate {
  char address[48];
  char name[40];
  char model[24];
  char id[40];
  int32_t sg_card;  // >0 has a SoundGrid card, 0 has none, <0 unknown
};

struct ConPort {
  char port[8];
  uint32_t flag;
  uint32_t strips;
};

// The app's copy of a console module's status block. Every text is NUL-terminated; fields of a
// group the block's version or size does not carry stay 0.
struct ConStatus {
  bool valid;
  uint32_t connected;
  uint32_t injected;
  uint32_t version;    // the block's format version
  char text[96];       // the module's one-line state
  char identity[160];  // the adopted desk's discovery line
  uint8_t strip_local[64];
  char strip_group[64][8];
  uint32_t strip_number[64];
  char desk_ip[64];
  char mac[24];
  uint32_t sets, received;
  uint32_t patch_age_ms;
  uint32_t watch;
  // Format 15 and later.
  int32_t choice;
  uint32_t cand_count;  // at most 6
  ConCandidate candidates[6];
  char pinned[40];  // the console= identity
  // Format 16 and later.
  uint32_t port_count;  // at most 4
  ConPort ports[4];
  // Format 17 and later.
  uint32_t find_state;
  uint32_t addr_followed;
  char typed_ip[48];
  char answer_id[40];
  char answer_name[40];
};

// The status file of console type 0 or 1 in the run folder; "" for any other type.
std::string con_file(int type);
// The loader's status file in the run folder.
std::string loader_file();

// All false when LV1 is not running (pid 0).
Live live_blocks(const Lv1& lv1);

// Zeroes all of *out, then copies the live loader block into it. False when the block is not
// live, cannot be read, is shorter than 272 bytes, or has a foreign magic or a size field below
// 272. Bytes beyond the block's size field read as 0.
bool read_loader_status(GmLoaderStatus* out, const Live& live);

// The console module's block; valid false for another type, a block not live, short or foreign,
// or one whose module has stopped.
ConStatus read_con_status(int type, const Live& live);

// The same readings from a block's bytes however they were obtained (`size` bytes at data; null
// data reads as absent). Used by the two above; every read stays within the bytes given.
bool loader_status_of(const unsigned char* data, size_t size, GmLoaderStatus* out);
ConStatus con_status_of(const unsigned char* data, size_t size);

// Asks a running console module to take "LV1 wins" (lv1_wins) or "desk wins" as its resync
// direction on its next cycle, leaving its bank, base and watch as they are. Does nothing when
// LV1 does not hold the block open. Writes the request before its counter, so the module never
// takes a half-written one.
void con_request_resync(int type, bool lv1_wins);

// The request itself, written into the console block at path whether or not a module holds it.
// False (nothing written) when the file is missing, shorter than 2232 bytes or foreign.
bool con_write_resync(const std::string& path, bool lv1_wins);

}  // namespace gm
