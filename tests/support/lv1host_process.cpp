// The LV1 stand-in as a test runs it, and what /proc tells of a process.
#include "support/lv1host_process.h"

#include <filesystem>
#include <sstream>

namespace gmtest {
namespace {

Lv1HostProcess::Options in_home(const TempHome& home, Lv1HostProcess::Options o) {
  o.stdout_path = home.path() + "/lv1host.out";
  o.stderr_path = home.path() + "/lv1host.err";
  return o;
}

}  // namespace

Lv1HostProcess::Lv1HostProcess(const TempHome& home, Options options)
    : rig::Lv1Host(in_home(home, std::move(options))) {}

bool holds_open(pid_t pid, const std::string& path) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ec;
  const std::filesystem::path want = std::filesystem::weakly_canonical(path, ec);
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::error_code link_ec;
    if (std::filesystem::read_symlink(entry.path(), link_ec) == want) return true;
  }
  return false;
}

bool maps_file(pid_t pid, const std::string& file_name) {
  std::istringstream maps(read_file("/proc/" + std::to_string(pid) + "/maps"));
  for (std::string line; std::getline(maps, line);) {
    const size_t slash = line.rfind('/');
    if (slash != std::string::npos && line.substr(slash + 1) == file_name) return true;
  }
  return false;
}

}  // namespace gmtest
