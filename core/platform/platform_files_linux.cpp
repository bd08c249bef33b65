// The platform's handling of installed files on Linux: the download flag as the extended
// attribute "user.com.apple.quarantine".
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>

#include "platform.h"

namespace gm {

const char* const kQuarantineAttribute = "user.com.apple.quarantine";

bool remove_quarantine(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  // User attributes cannot be set on a symbolic link here, so a link never carries the flag.
  if (S_ISLNK(st.st_mode)) return true;
  if (lremovexattr(path.c_str(), kQuarantineAttribute) == 0) return true;
  return errno == ENODATA || errno == ENOTSUP;
}

}  // namespace gm
