// Zip archives of a folder through libarchive, standing in for ditto -c -k --keepParent.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/whole_file.h"
#include "platform.h"

namespace gm {
namespace {

namespace fs = std::filesystem;

// One archive being written into an open file (which stays open); the archive is closed and
// freed on every path.
class ZipWriter {
 public:
  explicit ZipWriter(int fd) : a_(archive_write_new()) {
    ok_ = a_ && archive_write_set_format_zip(a_) == ARCHIVE_OK &&
          archive_write_open_fd(a_, fd) == ARCHIVE_OK;
  }
  ~ZipWriter() {
    if (a_) archive_write_free(a_);
  }
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  bool ok() const { return ok_; }

  // A folder entry; `name` without the trailing "/".
  void add_folder(const std::string& name, const struct stat& st) {
    if (!ok_) return;
    archive_entry* e = entry(name + "/", st, AE_IFDIR, 0);
    ok_ = archive_write_header(a_, e) == ARCHIVE_OK;
    archive_entry_free(e);
  }

  void add_file(const std::string& name, const std::string& path) {
    if (!ok_) return;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    ok_ = fd >= 0 && fstat(fd, &st) == 0;
    if (ok_) {
      archive_entry* e = entry(name, st, AE_IFREG, st.st_size);
      ok_ = archive_write_header(a_, e) == ARCHIVE_OK && copy_data(fd, st.st_size);
      archive_entry_free(e);
    }
    if (fd >= 0) close(fd);
  }

  bool close_archive() {
    const bool closed = a_ && archive_write_close(a_) == ARCHIVE_OK;
    return ok_ && closed;
  }

 private:
  static archive_entry* entry(const std::string& name, const struct stat& st, unsigned type,
                              int64_t size) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name.c_str());
    archive_entry_set_filetype(e, type);
    archive_entry_set_perm(e, st.st_mode & 07777);
    archive_entry_set_mtime(e, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    archive_entry_set_size(e, size);
    return e;
  }

  // Exactly `size` bytes of fd: a file that shrank meanwhile fails the archive rather than
  // leaving an entry shorter than its header says.
  bool copy_data(int fd, int64_t size) {
    char buf[64 * 1024];
    int64_t left = size;
    while (left > 0) {
      const ssize_t n = read(fd, buf, static_cast<size_t>(std::min<int64_t>(left, sizeof buf)));
      if (n <= 0) return false;
      if (archive_write_data(a_, buf, static_cast<size_t>(n)) != n) return false;
      left -= n;
    }
    return true;
  }

  archive* a_;
  bool ok_ = false;
};

// The folders and regular files below `root`, as paths relative to it, in name order (a folder
// before what it holds).
bool list_tree(const fs::path& root, std::vector<fs::path>* out) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
    if (ec) return false;
    const fs::file_status s = it->symlink_status(ec);
    if (ec) return false;
    if (fs::is_directory(s) || fs::is_regular_file(s)) {
      out->push_back(it->path().lexically_relative(root));
    }
  }
  if (ec) return false;
  std::sort(out->begin(), out->end());
  return true;
}

}  // namespace

bool zip_folder(const std::string& folder, const std::string& zip_path) {
  const fs::path root = fs::path(folder).lexically_normal();
  const fs::path top = root.has_filename() ? root.filename() : root.parent_path().filename();
  struct stat root_st {};
  std::vector<fs::path> tree;
  if (top.empty() || stat(folder.c_str(), &root_st) != 0 || !S_ISDIR(root_st.st_mode) ||
      !list_tree(folder, &tree)) {
    return false;
  }
  static std::atomic<unsigned> counter{0};
  std::string temp;
  const int fd = gm_base::create_temp_beside(zip_path, 0644, counter, temp);
  if (fd < 0) return false;
  bool written = false;
  {
    ZipWriter zip(fd);
    zip.add_folder(top.string(), root_st);
    for (const fs::path& rel : tree) {
      const std::string path = (fs::path(folder) / rel).string();
      const std::string name = (top / rel).string();
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) {
        continue;  // gone since it was listed
      }
      if (S_ISDIR(st.st_mode)) {
        zip.add_folder(name, st);
      } else if (S_ISREG(st.st_mode)) {
        zip.add_file(name, path);
      }
    }
    written = zip.close_archive();
  }
  written = fsync(fd) == 0 && written;
  written = close(fd) == 0 && written;
  if (written && std::rename(temp.c_str(), zip_path.c_str()) == 0) {
    return gm_base::sync_parent_dir(zip_path);
  }
  std::remove(temp.c_str());
  return false;
}

}  // namespace gm
