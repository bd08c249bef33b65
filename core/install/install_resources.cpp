// Waves' card bundle resources into the new Gainmesh bundle.
#include "install_resources.h"

#include <sys/stat.h>

#include "install_files.h"
#include "install_texts.h"

namespace gm {
namespace {

constexpr const char* kDeviceList = "Resources/VDID/1000";

// Relative paths below Contents that the new bundle never takes from Waves.
bool left_out(const std::string& rel) {
  return rel == "MacOS" || rel == "_CodeSignature" || rel == "Info.plist" ||
         rel == "manifest.yaml" || rel == kDeviceList;
}

constexpr size_t kMaxText = 1048576;

struct Walk {
  std::string from, to;  // the two Contents folders
  std::string card;      // the card bundle's file name, for messages
  const Reader& reader;
  std::string& err;
};

bool copy_below(const Walk& w, const std::string& rel) {
  std::vector<std::string> names;
  if (!list_names(rel.empty() ? w.from : w.from + "/" + rel, names)) {
    w.err = "Could not read Waves' bundle " + w.card + ".";
    return false;
  }
  for (const std::string& name : names) {
    const std::string r = rel.empty() ? name : rel + "/" + name;
    if (left_out(r)) continue;
    const std::string src = w.from + "/" + r, dst = w.to + "/" + r;
    struct stat st {};
    if (lstat(src.c_str(), &st) != 0) {
      w.err = "Could not read Waves' bundle " + w.card + ".";
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!make_folders(dst)) {
        w.err = "Could not copy " + r + " from Waves' " + w.card + ".";
        return false;
      }
      if (!copy_below(w, r)) return false;
      continue;
    }
    struct stat there {};
    if (lstat(dst.c_str(), &there) == 0) continue;  // an earlier card bundle's file wins
    const bool copied =
        make_folders(dst.substr(0, dst.rfind('/'))) &&
        (S_ISLNK(st.st_mode) ? copy_link(src, dst) : copy_file_over(src, dst, w.reader));
    if (!copied) {
      w.err = "Could not copy " + r + " from Waves' " + w.card + ".";
      return false;
    }
  }
  return true;
}

}  // namespace

bool take_card_resources(const std::string& card_bundle, const std::string& new_bundle,
                         const Reader& reader, std::string& err) {
  const Walk walk{card_bundle + "/Contents", new_bundle + "/Contents", file_name(card_bundle),
                  reader, err};
  if (!copy_below(walk, "")) return false;
  const std::string ours_path = walk.to + "/" + kDeviceList;
  std::string ours, theirs;
  read_regular(ours_path, ours, kMaxText);
  read_regular(walk.from + "/" + kDeviceList, theirs, kMaxText, reader);
  if (!make_folders(walk.to + "/Resources/VDID") ||
      !write_new_file(ours_path, merge_device_list(ours, theirs))) {
    err = "Could not write the device list.";
    return false;
  }
  return true;
}

void rewrite_assignment_priorities(const std::string& bundle) {
  const std::string dir = bundle + "/Contents/Resources/APPINFO";
  for (const std::string& name : names_in(dir)) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.compare(dot, std::string::npos, ".yaml") != 0) continue;
    std::string text;
    if (!read_regular(dir + "/" + name, text, kMaxText)) continue;
    write_new_file(dir + "/" + name, rewrite_assignment_priority(text));
  }
}

}  // namespace gm
