// Reads a console status block from the run folder the way the app does: a read-only shared
// mapping of the file, so a test sees what another process would.
#pragma once

#include <string>

#include "status_layout.h"

namespace gmtest {

class StatusFile {
 public:
  // Maps <run_dir>/GainmeshStatus<tag>; ok() is false when the file is missing or too short.
  StatusFile(const std::string& run_dir, const std::string& tag = "");
  ~StatusFile();
  StatusFile(const StatusFile&) = delete;
  StatusFile& operator=(const StatusFile&) = delete;

  bool ok() const { return blk_ != nullptr; }
  const GmConsoleStatus& operator*() const { return *blk_; }
  const GmConsoleStatus* operator->() const { return blk_; }
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(blk_); }
  long file_size() const { return size_; }

 private:
  const GmConsoleStatus* blk_ = nullptr;
  long size_ = 0;
};

}  // namespace gmtest
