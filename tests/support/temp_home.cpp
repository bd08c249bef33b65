// The temporary-home fixture.
#include "support/temp_home.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/paths.h"

namespace gmtest {

TempHome::TempHome() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/gmhome.XXXXXX";
  char* made = mkdtemp(pattern.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  root_ = made;
  set_env("GAINMESH_HOME", root_);
  set_env("HOME", root_);
  set_env("GAINMESH_IO_MODULES", io_modules_dir());
  set_env("GAINMESH_LV1_DB", root_ + "/lv1.db");
  // Nothing a test starts may search a real network; tests that broadcast do it in a network
  // namespace of their own and clear this there.
  set_env("GAINMESH_TEST_NO_BROADCAST", "1");
  // An update check never leaves the machine: unless a test starts its own update server, the
  // app asks a loopback port where nothing listens.
  set_env("GAINMESH_TEST_UPDATE_URL", "https://127.0.0.1:1");
  make_dirs(io_modules_dir());
}

TempHome::~TempHome() {
  for (auto& [name, value] : saved_env_) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void TempHome::set_env(const char* name, const std::string& value) {
  if (!saved_env_.count(name)) {
    const char* old = std::getenv(name);
    saved_env_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  setenv(name, value.c_str(), 1);
}

std::string TempHome::run_dir() const {
  return gm_base::run_dir(root_);
}
std::string TempHome::logs_dir() const {
  return gm_base::logs_dir(root_);
}
std::string TempHome::io_modules_dir() const { return root_ + "/IO Modules"; }
std::string TempHome::app_log() const {
  return read_file(logs_dir() + "/gainmesh-app.log");
}

std::string TempHome::write(const std::string& rel, const std::string& content) const {
  std::string full = root_ + "/" + rel;
  make_dirs(std::filesystem::path(full).parent_path().string());
  std::ofstream(full, std::ios::binary | std::ios::trunc) << content;
  return full;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void make_dirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

std::wstring wide(const std::string& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    uint32_t cp;
    int n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
    else { cp = c & 0x07; n = 4; }
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out.push_back(static_cast<wchar_t>(cp));
    i += n;
  }
  return out;
}

}  // namespace gmtest
