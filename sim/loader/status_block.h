// The loader status block: the file "GainmeshLoader" in the run folder, 304 bytes in the layout
// of core/loader_layout.h, mapped shared and kept open while LV1 runs so that the app sees
// which modules run and which were refused.
//
// The loader's own tail bytes: [0..3] rescans done (u32), [4..7] the process id (u32).
#pragma once

#include <cstdint>
#include <string>

#include "loader_layout.h"

namespace gm_loader {

// One console type's entry as the loader knows it.
struct ConsoleEntry {
  std::string key;  // "wing" / "x32"
  bool enabled = false;
  bool module_present = false;
  bool in_slot = false;
  uint32_t card_kind = 0;
  std::string running_version;  // empty = none runs
  uint32_t load_error = 0;
  uint32_t error_code = 0;
  std::string module_file;
  uint32_t extra_cards = 0;
};

// Not thread-safe: one writer thread at a time.
class StatusBlock {
 public:
  StatusBlock() = default;
  ~StatusBlock() { close(); }
  StatusBlock(const StatusBlock&) = delete;
  StatusBlock& operator=(const StatusBlock&) = delete;

  // Publishes a fresh block at `dir`/GainmeshLoader (folders created): built in a temporary file,
  // then renamed over any block left by an earlier run, so a reader never sees a half-made one.
  // False with `err` set when it cannot.
  bool open(const std::string& dir, const std::string& loader_version, std::string& err);
  bool is_open() const { return blk_ != nullptr; }

  // Writes entry `index` (0 = WING, 1 = X32 / M32) and its extra-card count.
  void write(int index, const ConsoleEntry& entry);
  void set_rescans(uint32_t n);
  // Unmaps and closes; the file stays.
  void close();

 private:
  GmLoaderStatus* blk_ = nullptr;
  int fd_ = -1;
};

// Copies `text` into a NUL-terminated field of `size` bytes, cutting it and zero-filling the rest.
void copy_text(char* field, size_t size, const std::string& text);

}  // namespace gm_loader
