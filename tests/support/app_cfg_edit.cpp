// Edits a settings file the way the app does, so that a test can race it against the wing
// module's writer in another process:
//   gm_test_app_cfg_edit <file> <prefix> <count>
// sets <prefix>1 ... <prefix><count> to 1 with the app's cfg_set_line, one edit after the other.
// Exits 0 when every edit was saved, 1 when one was not, 2 on wrong arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "util.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: gm_test_app_cfg_edit <file> <prefix> <count>\n");
    return 2;
  }
  const int count = std::atoi(argv[3]);
  int failed = 0;
  for (int i = 1; i <= count; ++i) {
    if (!gm::cfg_set_line(argv[1], argv[2] + std::to_string(i), "1")) ++failed;
  }
  if (failed) std::fprintf(stderr, "%d of %d edits were not saved\n", failed, count);
  return failed ? 1 : 0;
}
