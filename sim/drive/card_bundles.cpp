// The invented Waves card bundles.
#include "drive/card_bundles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace rig {
namespace {

namespace fs = std::filesystem;

void put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

// "SoundGrid X-WSG Control" -> "x-wsg".
std::string slug(const std::string& name) {
  std::string s = name;
  if (s.rfind("SoundGrid ", 0) == 0) s = s.substr(10);
  if (s.size() > 8 && s.compare(s.size() - 8, 8, " Control") == 0) s.resize(s.size() - 8);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return c == ' ' ? '-' : static_cast<char>(std::tolower(c));
  });
  return s;
}

// The device list: one line every SoundGrid card shares, then the card's own; the DN32-WSG list
// comes with Windows line ends and a trailing space, as lists edited elsewhere do.
std::string device_lines(const std::string& name) {
  if (name == kWingCardBundle) return "0x0100 SoundGrid IO\n0x0a31 WING WSG card\n";
  if (name == kXwsgCardBundle) return "0x0100 SoundGrid IO\n0x0b12 X-WSG card\n0x0b13 X-WSG v2\n";
  if (name == kDn32CardBundle) return "0x0100 SoundGrid IO\r\n0x0c20 DN32-WSG card \r\n";
  return "0x0100 SoundGrid IO\n";
}

std::string info_plist(const std::string& name) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n"
         "\t<key>CFBundleExecutable</key>\n\t<string>" +
         name +
         "</string>\n"
         "\t<key>CFBundleIdentifier</key>\n\t<string>com.waves.iom." +
         slug(name) +
         "</string>\n"
         "\t<key>CFBundlePackageType</key>\n\t<string>wvPT</string>\n"
         "\t<key>CFBundleVersion</key>\n\t<string>14.0.0</string>\n"
         "</dict>\n</plist>\n";
}

}  // namespace

void lay_out_card_bundle(const std::string& iom, const std::string& name) {
  const fs::path c = fs::path(iom) / (name + ".bundle") / "Contents";
  const std::string s = slug(name);
  put(c / "Info.plist", info_plist(name));
  put(c / "MacOS" / name, "Waves IO module " + name + "\n");
  put(c / "manifest.yaml", "bundle: " + name + "\nfiles: 7\n");
  put(c / "_CodeSignature" / "CodeResources", "signed by Waves for " + name + "\n");
  put(c / "Resources" / "VDID" / "1000", device_lines(name));
  put(c / "Resources" / "APPINFO" / (s + ".yaml"),
      "name: " + name + "\nassignment_priority: 100.0\nchannels: 64\n");
  put(c / "Resources" / "APPINFO" / "notes.txt", "assignment_priority: 100.0\n");
  put(c / "Resources" / "IOM_VERSION" / "1000", "14.0.0\n");
  // Present in every bundle with its own text: the first bundle read wins.
  put(c / "Resources" / "English.lproj" / "InfoPlist.strings",
      "CFBundleName = \"" + name + "\";\n");
  put(c / "Wfis" / (s + ".wfi"), "wfi " + name + "\n");
  put(c / "Wfis" / "soundgrid-common.wfi", "wfi SoundGrid common\n");
}

std::vector<std::pair<std::string, std::string>> tree_snapshot(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const fs::path rel = fs::relative(it->path(), dir);
    if (it->is_symlink()) {
      out.emplace_back(rel.string(), "-> " + fs::read_symlink(it->path()).string());
    } else if (it->is_regular_file()) {
      std::ifstream in(it->path(), std::ios::binary);
      out.emplace_back(rel.string(), std::string(std::istreambuf_iterator<char>(in), {}));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace rig
