// Choosing the console module to run from the modules folder: files "<key>-<version>.dylib",
// newest version first, skipping files refused before that have not changed since.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gm_loader {

// A parsed version: major.minor.patch, "-" right after the patch marks a pre-release. Text that
// does not parse gives major -1.
struct Ver {
  int32_t major = -1, minor = 0, patch = 0;
  bool pre = false;
};
Ver parse_ver(const std::string& text);
// Orders by major, minor, patch; at equal numbers a pre-release is lower; text after the numbers
// is never compared. Negative when a < b, 0 when equal, positive when a > b.
int compare_ver(const Ver& a, const Ver& b);

// What identifies one state of a file on disk; exists false when it could not be stat()ed.
struct FileId {
  bool exists = false;
  int64_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const FileId&) const = default;
};
FileId file_id(const std::string& path);

struct ModuleFile {
  std::string name;     // "wing-3.2.0.dylib"
  std::string path;     // full path
  std::string version;  // "3.2.0"
  Ver ver;
  FileId id;      // the module file
  FileId sig_id;  // its "<file>.sig"
};

// The modules of console `key` in `dir`, newest first (equal versions by name, descending).
// Names whose version does not parse are left out. A missing folder gives an empty list.
std::vector<ModuleFile> list_modules(const std::string& dir, const std::string& key);

// Refusals of one console type. Not thread-safe; owned by the thread that loads modules.
class Refusals {
 public:
  // True when `f` was refused and neither it nor its signature file changed since.
  bool known(const ModuleFile& f) const;
  // Records a refusal: load_error moves to a new non-zero value.
  void refuse(const ModuleFile& f, uint32_t code);

  uint32_t load_error() const { return load_error_; }
  uint32_t error_code() const { return error_code_; }
  const std::string& module_file() const { return module_file_; }

 private:
  struct Entry {
    std::string name;
    FileId id, sig_id;
  };
  std::vector<Entry> refused_;
  uint32_t load_error_ = 0;
  uint32_t error_code_ = 0;
  std::string module_file_;
};

// Tries the files newest first and returns the one to run: the first that is `running` (same
// name, unchanged on disk) or that `attempt` takes (attempt returns 0; any other value is a
// refusal code, recorded in `refusals`). Files refused before and unchanged are skipped without a
// new refusal. nullopt when no file can run.
std::optional<ModuleFile> pick_module(const std::vector<ModuleFile>& files,
                                      const ModuleFile* running, Refusals& refusals,
                                      const std::function<uint32_t(const ModuleFile&)>& attempt);

}  // namespace gm_loader
