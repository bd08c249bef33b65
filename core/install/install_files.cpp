// The installer's file-system steps, over POSIX descriptors.
#include "install_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "no_links.h"

namespace gm {
namespace {

constexpr int kMaxDepth = 64;  // folders below a tree's top that the tree walks descend into
constexpr int kSubFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kSubFile = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// The entries of the folder open at `dir` (any kind of descriptor to it).
bool entries(int dir, std::vector<std::string>& names) {
  names.clear();
  const int fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* d = fdopendir(fd);
  if (!d) {
    close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const bool ok = errno == 0;
  closedir(d);
  if (!ok) names.clear();
  return ok;
}

bool write_all(int fd, const char* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A new file at `path`, created with O_EXCL once whatever was there is gone; removed again by
// `drop` when it could not be written whole.
struct NewFile {
  UniqueFd folder;
  std::string name;
  UniqueFd fd;

  explicit NewFile(const std::string& path)
      : folder(open_folder_no_links(parent_of(path), false)), name(last_of(path)) {
    if (folder.get() < 0) return;
    unlinkat(folder.get(), name.c_str(), 0);
    fd.reset(openat(folder.get(), name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  }
  // Sets the mode, flushes and closes; on any failure the file is removed.
  bool finish(bool written, mode_t mode) {
    bool ok = written && fchmod(fd.get(), mode) == 0 && fsync(fd.get()) == 0;
    ok = close(fd.release()) == 0 && ok;
    if (!ok) unlinkat(folder.get(), name.c_str(), 0);
    return ok;
  }
};

bool remove_at(int dir, const std::string& name, int depth) {
  struct stat st {};
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode) && depth < kMaxDepth) {
    UniqueFd sub(openat(dir, name.c_str(), kSubFolder));
    std::vector<std::string> names;
    if (sub.get() >= 0 && entries(sub.get(), names)) {
      for (const std::string& n : names) remove_at(sub.get(), n, depth + 1);
    }
    return unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
  }
  return unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT;
}

bool flush_at(int dir, int depth) {
  std::vector<std::string> names;
  bool ok = entries(dir, names);
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = false;
      continue;
    }
    if (S_ISLNK(st.st_mode)) continue;  // its folder's entry is what holds it
    const bool folder = S_ISDIR(st.st_mode);
    UniqueFd fd(openat(dir, name.c_str(), folder ? kSubFolder : kSubFile));
    ok = fd.get() >= 0 &&
         (folder ? depth < kMaxDepth && flush_at(fd.get(), depth + 1) : fsync(fd.get()) == 0) && ok;
  }
  return fsync(dir) == 0 && ok;
}

// Changes the owner of what `fd` is open on, when it is the entry that was listed: a folder, or a
// regular file with no other name.
bool hand_over_fd(int fd, unsigned uid, unsigned gid) {
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) && !(S_ISREG(st.st_mode) && st.st_nlink == 1)) return false;
  return fchown(fd, uid, gid) == 0;
}

bool hand_over_at(int dir, unsigned uid, unsigned gid, int depth) {
  std::vector<std::string> names;
  bool ok = entries(dir, names);
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = false;
    } else if (S_ISLNK(st.st_mode)) {
      ok = fchownat(dir, name.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) == 0 && ok;
    } else if (S_ISDIR(st.st_mode)) {
      UniqueFd sub(openat(dir, name.c_str(), kSubFolder));
      ok =
          sub.get() >= 0 && depth < kMaxDepth && hand_over_at(sub.get(), uid, gid, depth + 1) && ok;
    } else {
      UniqueFd file(openat(dir, name.c_str(), kSubFile));
      ok = hand_over_fd(file.get(), uid, gid) && ok;
    }
  }
  return hand_over_fd(dir, uid, gid) && ok;
}

}  // namespace

bool Reader::may_read(const struct stat& st) const {
  if (uid == kKeepOwner) return true;
  if (st.st_uid == uid) return (st.st_mode & S_IRUSR) != 0;
  if (st.st_gid == gid) return (st.st_mode & S_IRGRP) != 0;
  return (st.st_mode & S_IROTH) != 0;
}

bool list_names(const std::string& dir, std::vector<std::string>& names) {
  names.clear();
  UniqueFd folder(open_folder_no_links(dir, false));
  return folder.get() >= 0 && entries(folder.get(), names);
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  list_names(dir, names);
  return names;
}

bool remove_tree(const std::string& path) {
  UniqueFd parent(open_folder_no_links(parent_of(path), false));
  if (parent.get() < 0) return errno == ENOENT;
  const std::string name = last_of(path);
  if (name.empty() || name == "." || name == "..") return false;
  remove_at(parent.get(), name, 0);
  struct stat st {};
  return fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

bool copy_file_over(const std::string& from, const std::string& to, const Reader& reader,
                    int mode) {
  struct stat st {};
  UniqueFd in(open_regular(from, st));
  if (in.get() < 0 || !reader.may_read(st)) return false;
  NewFile out(to);
  if (out.fd.get() < 0) return false;
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(in.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    ok = n >= 0 && write_all(out.fd.get(), buf, static_cast<size_t>(n > 0 ? n : 0));
    if (!ok || n == 0) break;
  }
  return out.finish(ok, mode >= 0 ? static_cast<mode_t>(mode) : st.st_mode & 0777);
}

bool copy_link(const std::string& from, const std::string& to) {
  UniqueFd src(open_folder_no_links(parent_of(from), false));
  UniqueFd dst(open_folder_no_links(parent_of(to), false));
  if (src.get() < 0 || dst.get() < 0) return false;
  char target[4096];
  const ssize_t n = readlinkat(src.get(), last_of(from).c_str(), target, sizeof target);
  if (n < 0 || static_cast<size_t>(n) >= sizeof target) return false;
  return symlinkat(std::string(target, static_cast<size_t>(n)).c_str(), dst.get(),
                   last_of(to).c_str()) == 0;
}

bool read_regular(const std::string& path, std::string& out, size_t max, const Reader& reader) {
  struct stat st {};
  UniqueFd in(open_regular(path, st));
  if (in.get() < 0 || !reader.may_read(st) || static_cast<unsigned long long>(st.st_size) > max) {
    return false;
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(in.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || bytes.size() + static_cast<size_t>(n) > max) return false;
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  out = std::move(bytes);
  return true;
}

bool write_new_file(const std::string& path, std::string_view bytes, mode_t mode) {
  NewFile out(path);
  if (out.fd.get() < 0) return false;
  return out.finish(write_all(out.fd.get(), bytes.data(), bytes.size()), mode);
}

bool make_folders(const std::string& path) {
  return UniqueFd(open_folder_no_links(path, true)).get() >= 0;
}

bool flush_tree(const std::string& path) {
  UniqueFd top(open_no_links(path, O_RDONLY | O_DIRECTORY));
  return top.get() >= 0 && flush_at(top.get(), 0);
}

bool flush_folder(const std::string& path) {
  UniqueFd folder(open_no_links(path, O_RDONLY | O_DIRECTORY));
  return folder.get() >= 0 && fsync(folder.get()) == 0;
}

bool hand_over_tree(const std::string& path, unsigned uid, unsigned gid) {
  UniqueFd top(open_no_links(path, O_RDONLY | O_DIRECTORY));
  return top.get() >= 0 && hand_over_at(top.get(), uid, gid, 0);
}

std::string file_name(const std::string& path) {
  return last_of(path);
}

bool writable(const std::string& path) {
  return access(path.c_str(), W_OK) == 0;
}

}  // namespace gm
