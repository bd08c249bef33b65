// The shape of a WING on firmware 3.1 as the desk reports it: input and output groups with
// their leaves, channel strips, port and card status, and the factory values of each leaf.
#pragma once

#include <string>

#include "node_tree.h"

namespace wingsim {

struct LayoutOptions {
  std::string mod_card = "WSG";   // /$syscfg/opt_mod
  std::string crd_card = "NONE";  // /cards/$type
};

// Builds the tree, overlays the firmware's node data from node_file (real hashes, types,
// ranges), gives every other node its own hash and sets the factory values. False with a
// one-sentence reason in err when the node data cannot be read.
bool build_layout(const std::string& node_file, const LayoutOptions& options, NodeTree& tree,
                  std::string& err);

}  // namespace wingsim
