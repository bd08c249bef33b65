// Unpacking an app archive: whatever the zip holds, nothing lands beside the target folder and
// no link below it points at an absolute path.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/platform.h"
#include "tests/fuzz/fuzz_check.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path base =
      fs::temp_directory_path() / ("gm-fuzz-zip-" + std::to_string(getpid()));
  const fs::path target = base / "target";
  std::error_code ec;
  fs::remove_all(base, ec);
  fs::create_directories(target, ec);
  gm::unpack_zip(std::string(reinterpret_cast<const char*>(data), size), target.string());
  for (const auto& entry : fs::directory_iterator(base, ec)) fuzz::check(entry.path() == target);
  for (auto it = fs::recursive_directory_iterator(target, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_symlink(ec)) fuzz::check(!fs::read_symlink(it->path(), ec).is_absolute());
  }
  fs::remove_all(base, ec);
  return 0;
}
