// Packing an app folder into the release's zip archive with libarchive.
#include "app_zip.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "signature.h"

namespace gm_tools {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTop = "Gainmesh.app";

struct Sink {
  std::string* out;
  size_t max;
  bool overflow = false;
};

la_ssize_t on_write(struct archive*, void* user, const void* data, size_t n) {
  Sink* sink = static_cast<Sink*>(user);
  if (sink->out->size() + n > sink->max) {
    sink->overflow = true;
    return -1;
  }
  sink->out->append(static_cast<const char*>(data), n);
  return static_cast<la_ssize_t>(n);
}

struct Closer {
  void operator()(archive* a) const { archive_write_free(a); }
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};

// One entry: its header, then a regular file's bytes.
bool add_entry(archive* a, const fs::path& path, const std::string& name, std::string& err) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    err = "Cannot read " + path.string() + ".";
    return false;
  }
  std::unique_ptr<archive_entry, Closer> e(archive_entry_new());
  archive_entry_copy_stat(e.get(), &st);
  archive_entry_set_pathname(
      e.get(), (S_ISDIR(st.st_mode) && name.back() != '/' ? name + "/" : name).c_str());
  std::string bytes;
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    archive_entry_set_symlink(e.get(), fs::read_symlink(path, ec).c_str());
    archive_entry_set_size(e.get(), 0);
  } else if (S_ISREG(st.st_mode)) {
    if (!gm_loader::read_file(path, bytes)) {
      err = "Cannot read " + path.string() + " (missing, or above 64 MiB).";
      return false;
    }
    archive_entry_set_size(e.get(), static_cast<la_int64_t>(bytes.size()));
  } else if (S_ISDIR(st.st_mode)) {
    archive_entry_set_size(e.get(), 0);
  } else {
    err = path.string() + " is neither a folder, a file nor a symbolic link.";
    return false;
  }
  if (archive_write_header(a, e.get()) != ARCHIVE_OK ||
      (!bytes.empty() && archive_write_data(a, bytes.data(), bytes.size()) !=
                             static_cast<la_ssize_t>(bytes.size()))) {
    err = "Cannot pack " + path.string() + ": " + archive_error_string(a) + ".";
    return false;
  }
  return true;
}

}  // namespace

bool zip_app(const std::string& app_dir, size_t max, std::string& out, std::string& err) {
  out.clear();
  std::error_code ec;
  std::vector<fs::path> paths;
  for (fs::recursive_directory_iterator it(app_dir, ec), end; !ec && it != end; it.increment(ec))
    paths.push_back(it->path());
  if (ec) {
    err = "Cannot read the folder " + app_dir + ".";
    return false;
  }
  std::sort(paths.begin(), paths.end());
  std::unique_ptr<archive, Closer> a(archive_write_new());
  Sink sink{&out, max};
  // Unpadded: the archive ends with its central directory.
  if (archive_write_set_format_zip(a.get()) != ARCHIVE_OK ||
      archive_write_set_bytes_in_last_block(a.get(), 1) != ARCHIVE_OK ||
      archive_write_open2(a.get(), &sink, nullptr, on_write, nullptr, nullptr) != ARCHIVE_OK) {
    err = "Cannot start the zip archive.";
    return false;
  }
  bool ok = add_entry(a.get(), app_dir, std::string(kTop) + "/", err);
  for (const fs::path& p : paths) {
    if (!ok) break;
    const std::string rel = fs::path(p).lexically_relative(app_dir).string();
    ok = add_entry(a.get(), p, std::string(kTop) + "/" + rel, err);
  }
  ok = archive_write_close(a.get()) == ARCHIVE_OK && ok;
  if (sink.overflow)
    err = "The app archive would be larger than " + std::to_string(max) + " bytes.";
  else if (!ok && err.empty())
    err = "Cannot finish the zip archive.";
  return ok && !sink.overflow;
}

}  // namespace gm_tools
