// Writing the loader's log.
#include "loader_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "base/paths.h"

namespace gm_loader {
namespace {

constexpr off_t kRotateBytes = 1 << 20;

std::mutex& log_mutex() {
  static std::mutex mu;
  return mu;
}

std::string stamp() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(tv.tv_usec / 1000));
  return buf;
}

void rotate_if_large(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && st.st_size > kRotateBytes) {
    const std::string old = path.substr(0, path.size() - 4) + ".1.log";
    rename(path.c_str(), old.c_str());
  }
}

void append(const std::string& path, const std::string& line) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const ssize_t n = write(fd, line.data(), line.size());
  (void)n;
  close(fd);
}

}  // namespace

std::string log_path() {
  return gm_base::logs_dir() + "/gainmesh.log";
}

void log_line(const char* tag, const std::string& text) {
  std::string line = stamp() + "  [" + tag + "] " + text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';  // one call, one line
  }
  line += '\n';
  std::lock_guard<std::mutex> lock(log_mutex());
  if (std::getenv("GAINMESH_LOG_STDERR")) {
    std::fputs(line.c_str(), stderr);
    return;
  }
  const std::string path = log_path();
  gm_base::make_dirs(gm_base::logs_dir());
  rotate_if_large(path);
  append(path, line);
}

void loader_logf(const char* fmt, ...) {
  char buf[1024];
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  log_line("loader", n < 0 ? "" : buf);
}

}  // namespace gm_loader
