// Version order, the modules folder listing, refusal memory and the choice of module.
#include "module_pick.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace gm_loader {
namespace {

constexpr const char* kModuleExt = ".dylib";

// strtol with base 10 that must consume a character; the value is kept in 32 bits.
bool read_number(const char*& p, int32_t& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(p, &end, 10);
  if (end == p) return false;
  out = static_cast<int32_t>(v);
  p = end;
  return true;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool same_file(const ModuleFile& a, const ModuleFile& b) {
  return a.name == b.name && a.id == b.id;
}

}  // namespace

Ver parse_ver(const std::string& text) {
  Ver v;
  const char* p = text.c_str();
  if (!read_number(p, v.major) || *p++ != '.' || !read_number(p, v.minor) || *p++ != '.' ||
      !read_number(p, v.patch)) {
    return Ver{};
  }
  v.pre = *p == '-';
  return v;
}

int compare_ver(const Ver& a, const Ver& b) {
  const bool a_ok = a.major >= 0, b_ok = b.major >= 0;
  if (a_ok != b_ok) return a_ok ? 1 : -1;
  if (a.major != b.major) return a.major < b.major ? -1 : 1;
  if (a.minor != b.minor) return a.minor < b.minor ? -1 : 1;
  if (a.patch != b.patch) return a.patch < b.patch ? -1 : 1;
  if (a.pre != b.pre) return a.pre ? -1 : 1;
  return 0;
}

FileId file_id(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FileId{};
  return FileId{true, static_cast<int64_t>(st.st_size),
                static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::vector<ModuleFile> list_modules(const std::string& dir, const std::string& key) {
  std::vector<ModuleFile> out;
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  const std::string prefix = key + "-";
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(prefix, 0) != 0 || !ends_with(name, kModuleExt)) continue;
    ModuleFile f;
    f.name = name;
    f.path = dir + "/" + name;
    f.version = name.substr(prefix.size(), name.size() - prefix.size() - std::strlen(kModuleExt));
    f.ver = parse_ver(f.version);
    if (f.ver.major < 0) continue;
    f.id = file_id(f.path);
    f.sig_id = file_id(f.path + ".sig");
    if (f.id.exists) out.push_back(std::move(f));
  }
  closedir(d);
  std::sort(out.begin(), out.end(), [](const ModuleFile& a, const ModuleFile& b) {
    const int c = compare_ver(a.ver, b.ver);
    return c != 0 ? c > 0 : a.name > b.name;
  });
  return out;
}

bool Refusals::known(const ModuleFile& f) const {
  return std::any_of(refused_.begin(), refused_.end(), [&](const Entry& e) {
    return e.name == f.name && e.id == f.id && e.sig_id == f.sig_id;
  });
}

void Refusals::refuse(const ModuleFile& f, uint32_t code) {
  std::erase_if(refused_, [&](const Entry& e) { return e.name == f.name; });
  refused_.push_back(Entry{f.name, f.id, f.sig_id});
  if (++load_error_ == 0) load_error_ = 1;
  error_code_ = code;
  module_file_ = f.name;
}

std::optional<ModuleFile> pick_module(const std::vector<ModuleFile>& files,
                                      const ModuleFile* running, Refusals& refusals,
                                      const std::function<uint32_t(const ModuleFile&)>& attempt) {
  for (const ModuleFile& f : files) {
    if (running && same_file(f, *running)) return f;
    if (refusals.known(f)) continue;
    const uint32_t code = attempt(f);
    if (code == 0) return f;
    refusals.refuse(f, code);
  }
  return std::nullopt;
}

}  // namespace gm_loader
