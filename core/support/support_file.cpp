// The support file: the report, the logs and the settings gathered in a staging folder, packed
// into one archive on the Desktop, and the staging folder removed again.
#include <filesystem>
#include <string>

#include "platform.h"
#include "support.h"
#include "util.h"

namespace gm {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSettingsFiles[] = {"wing.cfg", "x32.cfg", "state.cfg"};

// Copies each regular file of `from` whose name ends in ".log" into `to`; a file that cannot be
// copied is left out.
void copy_logs(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code file_ec;
    if (!it->is_regular_file(file_ec) || it->path().extension() != ".log") continue;
    fs::copy_file(it->path(), to / it->path().filename(), fs::copy_options::overwrite_existing,
                  file_ec);
  }
}

void copy_settings(const fs::path& from, const fs::path& to) {
  for (const char* name : kSettingsFiles) {
    std::error_code ec;
    if (!fs::is_regular_file(from / name, ec)) continue;
    fs::copy_file(from / name, to / name, fs::copy_options::overwrite_existing, ec);
  }
}

void write_report(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return;
  write_diagnostics(f);
  std::fclose(f);
}

}  // namespace

std::string support_name(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char name[64];
  std::snprintf(name, sizeof name, "Gainmesh-support-%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return name;
}

bool save_support(std::string& path, std::string& err) {
  const std::string name = support_name(std::time(nullptr));
  const std::string staging = support_dir() + "/support/" + name;
  if (!make_dirs(staging + "/logs") || !make_dirs(staging + "/settings")) {
    err = "Could not create a folder for the support file.";
    return false;
  }
  write_report(staging + "/Gainmesh-diagnostics.txt");
  copy_logs(logs_dir(), staging + "/logs");
  copy_settings(bundle_dir(), staging + "/settings");

  const std::string desktop = home() + "/Desktop";
  const std::string zip = desktop + "/" + name + ".zip";
  make_dirs(desktop);  // a home without one; when it cannot be made, packing says so
  const bool packed = zip_folder(staging, zip);
  // The staging folder only feeds the archive: it goes whether or not packing worked.
  std::error_code ec;
  fs::remove_all(staging, ec);
  if (!packed) {
    err = "Could not write " + zip + ".";
    return false;
  }
  logf("support file written: %s", zip.c_str());
  path = zip;
  return true;
}

}  // namespace gm
