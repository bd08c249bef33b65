// Publishing the loader status block.
#include "status_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "base/paths.h"

namespace gm_loader {

void copy_text(char* field, size_t size, const std::string& text) {
  const size_t n = text.size() < size ? text.size() : size - 1;
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), n);
}

bool StatusBlock::open(const std::string& dir, const std::string& loader_version,
                       std::string& err) {
  close();
  const std::string path = dir + "/" + GM_LOADER_FILE;
  const std::string tmp = path + ".new." + std::to_string(getpid());
  if (!gm_base::make_dirs(dir)) {
    err = "Could not create the folder " + dir + ".";
    return false;
  }
  const int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, sizeof(GmLoaderStatus)) != 0) {
    if (fd >= 0) ::close(fd);
    unlink(tmp.c_str());
    err = "Could not create the loader status block " + path + ".";
    return false;
  }
  void* map = mmap(nullptr, sizeof(GmLoaderStatus), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    ::close(fd);
    unlink(tmp.c_str());
    err = "Could not map the loader status block " + path + ".";
    return false;
  }
  blk_ = static_cast<GmLoaderStatus*>(map);
  fd_ = fd;
  blk_->size = sizeof(GmLoaderStatus);
  copy_text(blk_->loader_version, sizeof blk_->loader_version, loader_version);
  const uint32_t pid = static_cast<uint32_t>(getpid());
  std::memcpy(blk_->tail + 4, &pid, sizeof pid);
  blk_->magic = GM_LOADER_MAGIC;
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    close();
    unlink(tmp.c_str());
    err = "Could not publish the loader status block " + path + ".";
    return false;
  }
  return true;
}

void StatusBlock::write(int index, const ConsoleEntry& e) {
  if (!blk_ || index < 0 || index > 1) return;
  GmLoaderConsole& c = blk_->consoles[index];
  copy_text(c.key, sizeof c.key, e.key);
  c.enabled = e.enabled;
  c.module_present = e.module_present;
  c.in_slot = e.in_slot;
  c.card_kind = e.card_kind;
  copy_text(c.running_version, sizeof c.running_version, e.running_version);
  c.load_error = e.load_error;
  c.error_code = e.error_code;
  copy_text(c.module_file, sizeof c.module_file, e.module_file);
  blk_->extra_cards[index] = e.extra_cards;
}

void StatusBlock::set_rescans(uint32_t n) {
  if (blk_) std::memcpy(blk_->tail, &n, sizeof n);
}

void StatusBlock::close() {
  if (blk_) munmap(blk_, sizeof(GmLoaderStatus));
  if (fd_ >= 0) ::close(fd_);
  blk_ = nullptr;
  fd_ = -1;
}

}  // namespace gm_loader
