// The Gainmesh executable: the command line first; without an option, the app. The Setup window
// and the menu-bar item are not part of this build yet, so the app only starts its core.
#include <cstdio>

#include "api.h"

int main(int argc, char** argv) {
  const int cli = gm_cli(argc, argv);
  if (cli >= 0) return cli;
  gm_init(nullptr, argc, argv);
  std::fputs(
      "Gainmesh: the Setup window is not built yet - use the command-line options "
      "(see the README)\n",
      stderr);
  return 0;
}
