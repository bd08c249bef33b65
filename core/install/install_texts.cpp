// The installer's generated texts.
#include "install_texts.h"

#include <cstring>
#include <vector>

namespace gm {
namespace {

// The lines of a text split at line feeds, without them; a text ending in a line feed gives no
// extra empty line.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t lf = text.find('\n', from);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(text.substr(from, lf - from));
    from = lf + 1;
  }
  return lines;
}

std::string strip_trailing(std::string line, const char* chars) {
  while (!line.empty() && std::strchr(chars, line.back())) line.pop_back();
  return line;
}

}  // namespace

std::string bundle_info_plist() {
  const std::pair<const char*, const char*> strings[] = {
      {"CFBundleDevelopmentRegion", "English"},
      {"CFBundleExecutable", "Gainmesh"},
      {"CFBundleIdentifier", "org.ambervale.gainmesh.loader"},
      {"CFBundleInfoDictionaryVersion", "6.0"},
      {"CFBundleName", "Gainmesh"},
      {"CFBundlePackageType", "wvPT"},
      {"CFBundleShortVersionString", "3.2.0"},
      {"CFBundleVersion", "3.2.0"},
  };
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n"
      "<dict>\n";
  for (const auto& [key, value] : strings) {
    out += std::string("    <key>") + key + "</key><string>" + value + "</string>\n";
  }
  out += "    <key>CSResourcesFileMapped</key><true/>\n";
  return out + "</dict>\n</plist>\n";
}

std::string first_state_text(int only) {
  return std::string("wing=") + (only < 1 ? "on" : "off") +
         "\nx32=" + (only == -1 || only == 1 ? "on" : "off") + "\n";
}

std::string default_settings_text() {
  return "; Gainmesh - edit while eMotion LV1 is closed.\n"
         "\n"
         "; Which side wins when the desk comes back after a dropout.\n"
         ";   desk = re-read the console into LV1. Reads only - it never\n"
         ";          writes a preamp. This is the safe default.\n"
         ";   lv1  = push LV1's values back to the console. This WRITES\n"
         ";          REAL GAIN AND 48V to your hardware. Better once you\n"
         ";          trust it, because after a dropout LV1's surface is\n"
         ";          what you have been looking at.\n"
         "resync=desk\n"
         "\n"
         "; Opening an LV1 session (or LV1 starting on its last state) sends\n"
         "; the session's saved preamp gain and 48V to the console, like\n"
         "; Waves' own preamp boxes. off = the console keeps its values.\n"
         "session_recall=on\n"
         "\n"
         "; Inputs that must NEVER have 48V switched on, as <group>:<input>,\n"
         "; comma separated. Keyed on the physical input, so it follows the\n"
         "; microphone through a repatch. Put your ribbons here at load-in.\n"
         "; protect=LCL:3,A:12\n"
         "\n"
         "; Per-move tracing in ~/Library/Logs/Gainmesh/gainmesh.log. Off for shows.\n"
         "diag=0\n";
}

std::string merge_device_list(const std::string& ours, const std::string& theirs) {
  std::vector<std::string> held;
  for (const std::string& line : lines_of(ours)) held.push_back(strip_trailing(line, "\r"));
  std::string out = ours;
  for (const std::string& raw : lines_of(theirs)) {
    const std::string line = strip_trailing(raw, " \r");
    if (line.empty()) continue;
    bool known = false;
    for (const std::string& h : held) known = known || h == line;
    if (known) continue;
    if (!out.empty() && out.back() != '\n') out += '\n';
    out += line + "\n";
    held.push_back(line);
  }
  return out;
}

std::string rewrite_assignment_priority(const std::string& yaml) {
  static constexpr char kKey[] = "assignment_priority:";
  std::string out;
  size_t from = 0;
  while (from < yaml.size()) {
    size_t end = yaml.find('\n', from);
    end = end == std::string::npos ? yaml.size() : end + 1;
    std::string line = yaml.substr(from, end - from);
    from = end;
    if (line.rfind(kKey, 0) == 0) {
      size_t value = sizeof kKey - 1;
      while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) ++value;
      const size_t dot = line.find('.', value);
      if (dot != std::string::npos) line = line.substr(0, value) + "600" + line.substr(dot);
    }
    out += line;
  }
  return out;
}

}  // namespace gm
