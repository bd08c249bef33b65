// Waves' SoundGrid card bundles as LV1 keeps them in its IO Modules folder, for the installer to
// read: the card's executable, Info.plist, manifest.yaml, code signature, device list
// (Resources/VDID/1000), description with its assignment priority (Resources/APPINFO/*.yaml),
// IOM_VERSION and Wfis entries. Their contents are invented stand-ins; what matters is the shape
// and that the three bundles overlap where the real ones do (a shared device line, a resource
// file present in more than one bundle).
//
// Threads: any; blocks on the file system. Throws std::runtime_error when a file cannot be
// written.
#pragma once

#include <string>
#include <vector>

namespace rig {

inline constexpr const char* kWingCardBundle = "SoundGrid Wing Control";
inline constexpr const char* kXwsgCardBundle = "SoundGrid X-WSG Control";
inline constexpr const char* kDn32CardBundle = "SoundGrid DN32-WSG Control";

// Lays out `<iom>/<name>.bundle`, replacing files already there. Any name works; the three above
// get their own device lines.
void lay_out_card_bundle(const std::string& iom, const std::string& name);

// Every file and symbolic link below `dir` with its bytes (a link as "-> target"), sorted by
// path relative to `dir`: a snapshot to prove that nothing below it changed.
std::vector<std::pair<std::string, std::string>> tree_snapshot(const std::string& dir);

}  // namespace rig
