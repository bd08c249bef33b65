// A temporary home for one test: a fresh folder that GAINMESH_HOME and HOME point at, with its
// own IO Modules folder and LV1 session database path, and an update server address where nothing
// listens. Restores the environment afterwards.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace gmtest {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& path() const { return root_; }
  std::string run_dir() const;         // <home>/Library/Application Support/Gainmesh/run
  std::string logs_dir() const;        // <home>/Library/Logs/Gainmesh
  std::string io_modules_dir() const;  // <home>/IO Modules
  std::string app_log() const;         // the app's log, gainmesh-app.log, or empty

  // Writes a file below the home (folders created). `rel` is relative to the home.
  std::string write(const std::string& rel, const std::string& content) const;

 private:
  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_env_;
  void set_env(const char* name, const std::string& value);
};

// A gtest fixture that gives every test its own TempHome.
class TempHomeTest : public ::testing::Test {
 protected:
  TempHome home_;
};

// Helpers for files.
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
void make_dirs(const std::string& path);
// A wide string from UTF-8 (the module's settings path is a wide string).
std::wstring wide(const std::string& s);

}  // namespace gmtest
