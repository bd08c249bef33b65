// Process facts from /proc and bundle info dictionaries through libplist, standing in for the
// macOS process-information interface and CoreFoundation.
#include <dirent.h>
#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform.h"

namespace gm {
namespace {

constexpr size_t kNameMax = 32;
constexpr size_t kInfoPlistMax = 1 << 20;
constexpr int kStartTimeField = 22;  // of /proc/<pid>/stat, in clock ticks since boot

std::string proc(uint32_t pid, const char* leaf) {
  return "/proc/" + std::to_string(pid) + "/" + leaf;
}

// A whole small file, or false.
bool slurp(const std::string& path, std::string& out, size_t max) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out.clear();
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    out.append(buf, n);
    if (out.size() > max) break;
  }
  const bool ok = !std::ferror(f) && out.size() <= max;
  std::fclose(f);
  return ok;
}

// A decimal name of a /proc entry as a positive id, or 0.
uint32_t pid_of(const char* name) {
  if (!*name) return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(name, &end, 10);
  if (*end || errno || v == 0 || v > UINT32_MAX) return 0;
  return static_cast<uint32_t>(v);
}

// The boot time in wall-clock seconds ("btime" of /proc/stat), or -1.
int64_t boot_time() {
  std::string text;
  if (!slurp("/proc/stat", text, 1 << 20)) return -1;
  const size_t at = text.find("\nbtime ");
  if (at == std::string::npos) return -1;
  return std::strtoll(text.c_str() + at + 7, nullptr, 10);
}

// The process's start in clock ticks since boot, or -1. The name field may hold spaces and
// parentheses, so the fields are counted from the last ')'.
int64_t start_ticks(uint32_t pid) {
  std::string stat;
  if (!slurp(proc(pid, "stat"), stat, 8192)) return -1;
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  const char* p = stat.c_str() + close + 1;
  for (int field = 3; field <= kStartTimeField; ++field) {
    while (*p == ' ') ++p;
    if (!*p) return -1;
    if (field == kStartTimeField) return std::strtoll(p, nullptr, 10);
    while (*p && *p != ' ') ++p;
  }
  return -1;
}

struct PlistDeleter {
  void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};

}  // namespace

std::vector<uint32_t> process_ids() {
  std::vector<uint32_t> ids;
  DIR* d = opendir("/proc");
  if (!d) return ids;
  while (const dirent* e = readdir(d)) {
    if (const uint32_t pid = pid_of(e->d_name)) ids.push_back(pid);
  }
  closedir(d);
  return ids;
}

uint64_t process_creation_mark() {
  // The last field of loadavg is the id most recently given to a process or thread: it moves
  // with every creation, and coming back round to the same id takes millions of them.
  std::string text;
  if (!slurp("/proc/loadavg", text, 256)) return 0;
  const size_t space = text.rfind(' ');
  if (space == std::string::npos) return 0;
  const uint32_t last = pid_of(text.substr(space + 1, text.find('\n', space) - space - 1).c_str());
  return last == 0 ? 0 : uint64_t{last} + 1;
}

std::string process_name(uint32_t pid) {
  std::string name;
  if (pid == 0 || !slurp(proc(pid, "comm"), name, 256)) return "";
  if (!name.empty() && name.back() == '\n') name.pop_back();
  if (name.size() > kNameMax) name.resize(kNameMax);
  return name;
}

bool process_start_time(uint32_t pid, int64_t* seconds, int64_t* micros) {
  if (pid == 0) return false;
  const int64_t ticks = start_ticks(pid);
  const int64_t boot = boot_time();
  const long hz = sysconf(_SC_CLK_TCK);
  if (ticks < 0 || boot < 0 || hz <= 0) return false;
  *seconds = boot + ticks / hz;
  *micros = (ticks % hz) * 1000000 / hz;
  return true;
}

std::vector<int> process_descriptors(uint32_t pid) {
  std::vector<int> fds;
  if (pid == 0) return fds;
  DIR* d = opendir(proc(pid, "fd").c_str());
  if (!d) return fds;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] >= '0' && e->d_name[0] <= '9') fds.push_back(std::atoi(e->d_name));
  }
  closedir(d);
  std::sort(fds.begin(), fds.end());
  return fds;
}

std::string process_open_file(uint32_t pid, int fd) {
  if (pid == 0 || fd < 0) return "";
  char target[4096];
  const std::string link = proc(pid, "fd") + "/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  // Sockets, pipes and anonymous inodes read as "socket:[...]" and the like.
  if (n <= 0 || target[0] != '/') return "";
  return std::string(target, static_cast<size_t>(n));
}

std::string executable_path() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

bool read_bundle_info(const std::string& bundle, std::map<std::string, std::string>* out) {
  out->clear();
  std::string data;
  if (!slurp(bundle + "/Contents/Info.plist", data, kInfoPlistMax) || data.empty()) return false;
  plist_t raw = nullptr;
  plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &raw);
  std::unique_ptr<void, PlistDeleter> root(raw);
  if (!raw || plist_get_node_type(raw) != PLIST_DICT) return false;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(raw, &it);
  if (!it) return false;
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(raw, it, &key, &value);
    if (!key) break;
    if (value && plist_get_node_type(value) == PLIST_STRING) {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(value, &length);
      if (text) (*out)[key] = std::string(text, static_cast<size_t>(length));
    }
    std::free(key);
  }
  std::free(it);
  return true;
}

}  // namespace gm
