// Unpacking an app archive: whatever the zip holds, nothing lands beside the target folder.
#include <unistd.h>

#include <filesystem>

#include "platform.h"
#include "tests/fuzz/fuzz_check.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path base = fs::temp_directory_path() / ("gmzip" + std::to_string(getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "target");
  gm::unpack_zip(std::string(reinterpret_cast<const char*>(data), size),
                 (base / "target").string());
  for (const auto& entry : fs::directory_iterator(base))
    fuzz::check(entry.path() == base / "target");
  return 0;
}
