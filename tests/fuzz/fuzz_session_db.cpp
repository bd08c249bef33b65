// Fuzz target: LV1's session database as LV1 (or a damaged disk) may leave it, read for which
// console cards this LV1 only borrows. The bytes are written as the database file of a private
// home; SQLite parses the file, the core reads the card rows.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "lv1db.h"

namespace {

const std::string& home() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/gm-fuzz-lv1db.XXXXXX";
    const std::string d = mkdtemp(tmpl) ? tmpl : "/tmp";
    setenv("GAINMESH_HOME", d.c_str(), 1);
    setenv("GAINMESH_LV1_DB", (d + "/CurrentLV1.dat").c_str(), 1);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string db = home() + "/CurrentLV1.dat";
  FILE* f = std::fopen(db.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  bool guest[2] = {true, true};
  if (gm::lv1_guest_consoles(guest)) fuzz::check(guest[0] == (guest[0] & 1));
  return 0;
}
