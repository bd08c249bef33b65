// What the fuzz targets share: a broken property stops the run as a crash that libFuzzer
// reports with its input.
#pragma once

namespace fuzz {

inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace fuzz
