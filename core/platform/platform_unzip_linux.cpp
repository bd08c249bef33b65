// The platform's stand-in for macOS's ditto -x -k on Linux: zip archives unpacked in process with
// libarchive, after every entry has been checked to stay inside the target folder, and whole
// trees copied with std::filesystem.
#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

namespace gm {
namespace {

namespace fs = std::filesystem;

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;

Reader open_zip(const std::string& bytes) {
  Reader a(archive_read_new(), &archive_read_free);
  if (!a) return a;
  archive_read_support_format_zip(a.get());
  if (archive_read_open_memory(a.get(), bytes.data(), bytes.size()) != ARCHIVE_OK) a.reset();
  return a;
}

// The components of a relative path, "." and empty ones dropped.
std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> out;
  size_t from = 0;
  while (from <= path.size()) {
    size_t to = path.find('/', from);
    if (to == std::string::npos) to = path.size();
    const std::string part = path.substr(from, to - from);
    if (!part.empty() && part != ".") out.push_back(part);
    from = to + 1;
  }
  return out;
}

std::string joined(const std::vector<std::string>& parts, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += (i ? "/" : "") + parts[i];
  return out;
}

struct Entry {
  std::vector<std::string> path;  // components below the target folder
  std::string link;               // a symbolic link's target; "" for anything else
};

// The entry as a path below the target, or false when it may not be unpacked at all.
bool read_entry(archive_entry* e, Entry& out) {
  const char* name = archive_entry_pathname(e);
  if (!name || !name[0] || name[0] == '/' || archive_entry_hardlink(e)) return false;
  out.path = components(name);
  if (out.path.empty()) return false;
  for (const std::string& part : out.path) {
    if (part == "..") return false;
  }
  const mode_t type = archive_entry_filetype(e);
  if (type == AE_IFLNK) {
    const char* target = archive_entry_symlink(e);
    if (!target || !target[0]) return false;
    out.link = target;
    return true;
  }
  return type == AE_IFREG || type == AE_IFDIR;
}

// A link's target stays inside the target folder when resolved from the link's own folder, and
// never climbs back out of another link of the archive (whose real place is elsewhere).
bool link_stays_inside(const Entry& e, const std::set<std::string>& links) {
  if (e.link[0] == '/') return false;
  std::vector<std::string> at(e.path.begin(), e.path.end() - 1);
  for (const std::string& part : components(e.link)) {
    if (part == "..") {
      if (at.empty() || links.count(joined(at, at.size()))) return false;
      at.pop_back();
    } else {
      at.push_back(part);
    }
  }
  return true;
}

// Reads the whole archive once and checks every entry before anything is written.
bool archive_is_safe(const std::string& bytes) {
  Reader a = open_zip(bytes);
  if (!a) return false;
  std::vector<Entry> entries;
  archive_entry* e = nullptr;
  int rc;
  while ((rc = archive_read_next_header(a.get(), &e)) == ARCHIVE_OK) {
    Entry entry;
    if (!read_entry(e, entry)) return false;
    entries.push_back(std::move(entry));
  }
  if (rc != ARCHIVE_EOF) return false;
  std::set<std::string> links;
  for (const Entry& entry : entries) {
    if (!entry.link.empty()) links.insert(joined(entry.path, entry.path.size()));
  }
  for (const Entry& entry : entries) {
    if (!entry.link.empty() && !link_stays_inside(entry, links)) return false;
  }
  return true;
}

bool copy_data(archive* in, archive* out) {
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  int rc;
  while ((rc = archive_read_data_block(in, &block, &size, &offset)) == ARCHIVE_OK) {
    if (archive_write_data_block(out, block, size, offset) != ARCHIVE_OK) return false;
  }
  return rc == ARCHIVE_EOF;
}

}  // namespace

bool unpack_zip(const std::string& bytes, const std::string& dir) {
  if (!archive_is_safe(bytes)) return false;
  // The target's own path is taken resolved, so that the refusal to write through links below
  // concerns only what the archive itself creates.
  char real[PATH_MAX];
  if (!realpath(dir.c_str(), real)) return false;
  const std::string root = real;
  Reader in = open_zip(bytes);
  std::unique_ptr<archive, decltype(&archive_write_free)> out(archive_write_disk_new(),
                                                              &archive_write_free);
  if (!in || !out) return false;
  archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM |
                                                ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  archive_entry* e = nullptr;
  int rc;
  while ((rc = archive_read_next_header(in.get(), &e)) == ARCHIVE_OK) {
    Entry entry;
    if (!read_entry(e, entry)) return false;
    archive_entry_set_pathname(e, (root + "/" + joined(entry.path, entry.path.size())).c_str());
    if (archive_write_header(out.get(), e) != ARCHIVE_OK) return false;
    if (archive_entry_size(e) > 0 && !copy_data(in.get(), out.get())) return false;
    if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) return false;
  }
  return rc == ARCHIVE_EOF && archive_write_close(out.get()) == ARCHIVE_OK;
}

bool copy_tree(const std::string& from, const std::string& to) {
  std::error_code ec;
  if (fs::symlink_status(to, ec).type() != fs::file_type::not_found) return false;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  return !ec;
}

}  // namespace gm
