// Paths walked one folder at a time with O_NOFOLLOW, following only links nobody else made.
#include "no_links.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace gm {
namespace {

#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif
constexpr int kMaxLinks = 8;  // links followed in one path, as a loop guard

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(at, slash - at);
    if (!part.empty() && part != ".") out.push_back(std::move(part));
    at = slash + 1;
  }
  return out;
}

bool ours(uid_t owner) {
  return owner == 0 || owner == geteuid();
}

// A link in `folder` that root or this user made, in a folder nobody else may change.
bool trusted_link(int folder, const struct stat& link) {
  struct stat holder {};
  if (!S_ISLNK(link.st_mode) || !ours(link.st_uid) || fstat(folder, &holder) != 0) return false;
  return ours(holder.st_uid) && (holder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int walk(int base, const std::string& path, bool create, int& links);

// The folder `name` below `folder`, through a trusted link when it is one.
int step(int folder, const std::string& name, bool create, int& links) {
  int next = openat(folder, name.c_str(), kFolderFlags);
  if (next >= 0 || !(errno == ELOOP || errno == ENOTDIR || errno == ENOENT)) return next;
  const int why = errno;
  struct stat st {};
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT || !create) return -1;
    if (mkdirat(folder, name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
    return openat(folder, name.c_str(), kFolderFlags);
  }
  if (!trusted_link(folder, st) || ++links > kMaxLinks) {
    errno = S_ISLNK(st.st_mode) ? ELOOP : why;
    return -1;
  }
  std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
  const ssize_t n = readlinkat(folder, name.c_str(), target.data(), target.size());
  if (n < 0 || static_cast<size_t>(n) >= target.size()) return -1;
  target.resize(static_cast<size_t>(n));
  return walk(folder, target, create, links);
}

// The folder at `path`, relative to `base` unless absolute.
int walk(int base, const std::string& path, bool create, int& links) {
  UniqueFd here(path.starts_with('/') ? open("/", kFolderFlags) : dup(base));
  if (here.get() < 0) return -1;
  for (const std::string& name : components(path)) {
    const int next = step(here.get(), name, create, links);
    if (next < 0) return -1;
    here.reset(next);
  }
  return here.release();
}

}  // namespace

std::string parent_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string last_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int open_folder_no_links(const std::string& path, bool create) {
  int links = 0;
  UniqueFd cwd(open(".", kFolderFlags));
  return walk(cwd.get(), path, create, links);
}

int open_no_links(const std::string& path, int flags, mode_t mode) {
  const std::string name = last_of(path);
  if (name.empty() || name == "." || name == "..") {
    errno = EINVAL;
    return -1;
  }
  UniqueFd folder(open_folder_no_links(parent_of(path), false));
  if (folder.get() < 0) return -1;
  return openat(folder.get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

int open_regular(const std::string& path, struct stat& st) {
  UniqueFd fd(open_no_links(path, O_RDONLY | O_NONBLOCK));
  if (fd.get() < 0) return -1;
  if (fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  return fd.release();
}

}  // namespace gm
