// Release files and their signatures, written whole.
#include "sign_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace gm_tools {

bool write_whole(const std::string& path, std::string_view bytes, mode_t mode) {
  const std::string tmp = path + ".tmp." + std::to_string(getpid());
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

std::string sign_beside(const gm_loader::Ed25519Key& key, std::string_view bytes,
                        const std::string& path) {
  const std::string sig = key.sign(bytes);
  if (sig.size() != gm_loader::kSigBytes || !write_whole(path + ".sig", sig)) return "";
  return sig;
}

}  // namespace gm_tools
