// Read-only mapping of a console status block.
#include "support/status_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gmtest {

StatusFile::StatusFile(const std::string& run_dir, const std::string& tag) {
  const std::string path = run_dir + "/" GM_STATUS_FILE_PREFIX + tag;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(GM_STATUS_MAP_BYTES)) {
    size_ = st.st_size;
    void* p = mmap(nullptr, GM_STATUS_MAP_BYTES, PROT_READ, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) blk_ = static_cast<const GmConsoleStatus*>(p);
  }
  close(fd);
}

StatusFile::~StatusFile() {
  if (blk_) munmap(const_cast<GmConsoleStatus*>(blk_), GM_STATUS_MAP_BYTES);
}

}  // namespace gmtest
