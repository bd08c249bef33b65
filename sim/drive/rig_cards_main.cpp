// gm-rig-cards: lays out Waves' card bundles in an IO Modules folder, for the demo and for
// anyone trying the installer by hand.
//
//   gm-rig-cards DIR           the WING, X-WSG and DN32-WSG card bundles
//   gm-rig-cards DIR NAME...   only the named ones ("SoundGrid Wing Control", ...)
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "drive/card_bundles.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: gm-rig-cards DIR [BUNDLE NAME...]\n", stderr);
    return 2;
  }
  std::vector<std::string> names(argv + 2, argv + argc);
  if (names.empty()) names = {rig::kWingCardBundle, rig::kXwsgCardBundle, rig::kDn32CardBundle};
  try {
    for (const std::string& name : names) rig::lay_out_card_bundle(argv[1], name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gm-rig-cards: %s\n", e.what());
    return 1;
  }
  return 0;
}
