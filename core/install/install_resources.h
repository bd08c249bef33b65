// What the new Gainmesh bundle takes from Waves' card bundles: their resources (the first card
// bundle that holds a file wins), the union of their device lists, and their descriptions with
// Gainmesh's assignment priority.
//
// Threads: any; blocks on the file system. No lock: the installer's caller holds bundle_mutex().
#pragma once

#include <string>

#include "install_files.h"

namespace gm {

// Copies the card bundle's Contents into new_bundle's Contents, except its executable folder,
// code signature, Info.plist, manifest.yaml and device list, keeping files already there and
// copying symbolic links as links; then merges its device list (Resources/VDID/1000) into the
// new bundle's. Only files `reader` may read are taken. False with err holding one sentence.
bool take_card_resources(const std::string& card_bundle, const std::string& new_bundle,
                         const Reader& reader, std::string& err);

// Rewrites the assignment priority in every Resources/APPINFO/*.yaml of the bundle (links among
// them are left alone). Files that cannot be read or written are left as they are.
void rewrite_assignment_priorities(const std::string& bundle);

}  // namespace gm
