// gm-rig-update-server: the rig's update server for the demo and for trying updates by hand. It
// makes a certificate authority, serves a release that gm-release builds from the arguments
// after "--", prints the two settings that point the app at it, and serves until stdin closes
// or it is stopped.
//
//   gm-rig-update-server IP SCRIPT GM-RELEASE KEY -- <gm-release arguments without --key,
//                        --base-url and --out>
//
// The settings are printed as "GAINMESH_TEST_UPDATE_URL=..." and "GAINMESH_TEST_UPDATE_CA=...",
// one per line, once the server answers.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "drive/update_server.h"

int main(int argc, char** argv) {
  if (argc < 6 || std::string(argv[5]) != "--") {
    std::fputs("usage: gm-rig-update-server IP SCRIPT GM-RELEASE KEY -- <gm-release arguments>\n",
               stderr);
    return 2;
  }
  try {
    rig::UpdateServer server({argv[2], "python3", argv[1], argv[3], argv[4]});
    std::string err;
    if (server.release(std::vector<std::string>(argv + 6, argv + argc), &err) != 0) {
      std::fprintf(stderr, "gm-rig-update-server: gm-release failed: %s\n", err.c_str());
      return 1;
    }
    for (const std::string& line : server.app_env()) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gm-rig-update-server: %s\n", e.what());
    return 1;
  }
  return 0;
}
