// Card-output patch lists: "MOD:1-8=LCL:1-8,MOD:9=A:1,CRD:1-4=OFF". Each item patches
// outputs of the module slot (MOD) or card slot (CRD) to consecutive inputs of a source group.
#pragma once

#include <string>
#include <vector>

namespace wingsim {

struct PatchEntry {
  std::string out_group;  // "MOD" or "CRD"
  int out;                // 1..64
  std::string source;     // "LCL", "A", ... or "OFF"
  int input;              // 1..64 (1 for OFF)
};

// Parses a patch list; an empty text or "none" gives no entries. False with a
// one-sentence reason in err.
bool parse_patch(const std::string& text, std::vector<PatchEntry>& out, std::string& err);

}  // namespace wingsim
