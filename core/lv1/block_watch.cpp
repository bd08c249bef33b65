// The status blocks found through the descriptors that held them last time.
#include "block_watch.h"

#include "platform.h"

namespace gm {
namespace {

class SystemOpenFiles : public OpenFiles {
 public:
  std::vector<int> descriptors(uint32_t pid) override { return process_descriptors(pid); }
  std::string path(uint32_t pid, int fd) override { return process_open_file(pid, fd); }
};

}  // namespace

OpenFiles& system_open_files() {
  static SystemOpenFiles files;
  return files;
}

BlockWatch::Held BlockWatch::held(OpenFiles& files, uint32_t pid, const Paths& paths,
                                  int64_t now_ms) {
  Held held{};
  if (pid != pid_) {
    *this = BlockWatch();
    pid_ = pid;
  }
  if (pid == 0) return held;
  bool missing = false;
  for (size_t b = 0; b < kBlocks; ++b) {
    if (paths[b].empty()) continue;
    held[b] = fd_[b] >= 0 && files.path(pid, fd_[b]) == paths[b];
    if (!held[b]) fd_[b] = -1;
    missing = missing || !held[b];
  }
  if (!missing) return held;
  std::vector<int> fds = files.descriptors(pid);
  const bool stale = !looked_ || now_ms - looked_ms_ >= kLookAgainMs || now_ms < looked_ms_;
  if (fds == listed_ && !stale) return held;
  for (const int fd : fds) {
    const std::string path = files.path(pid, fd);
    for (size_t b = 0; b < kBlocks; ++b) {
      if (held[b] || paths[b].empty() || path != paths[b]) continue;
      held[b] = true;
      fd_[b] = fd;
    }
  }
  listed_ = std::move(fds);
  looked_ms_ = now_ms;
  looked_ = true;
  return held;
}

}  // namespace gm
