// File-system steps the installer is built from: listing a folder, removing a tree, copying a
// file or a symbolic link, writing a new file, flushing a tree to disk and handing it to a user,
// and whether this process may write somewhere.
//
// Everything here walks paths by the rule of no_links.h: no symbolic link planted by someone else
// is ever followed, files are copied from the descriptor that was checked, and new files are
// created with O_EXCL, so a link or a hard link waiting at the destination is never written
// through. That keeps the administrator step, which runs as root below folders the user owns,
// from being turned against the machine.
//
// Threads: any; nothing here keeps state, logs or throws. Each call blocks on the file system.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

namespace gm {

// The owner value that leaves files to the current user.
inline constexpr unsigned kKeepOwner = static_cast<unsigned>(-1);

// Whom an install reads for. The administrator child builds a bundle that it then hands to the
// user, so it takes only what that user could read anyway; kKeepOwner reads as this process.
struct Reader {
  unsigned uid = kKeepOwner;
  unsigned gid = kKeepOwner;
  bool may_read(const struct stat& st) const;
};

// The entry names of a folder in listing order, without "." and "..". False (names cleared) when
// the folder cannot be opened or read to the end.
bool list_names(const std::string& dir, std::vector<std::string>& names);
// The same, with a missing or unreadable folder read as empty.
std::vector<std::string> names_in(const std::string& dir);

// Removes a file, a symbolic link (not its target) or a whole folder tree, descending through
// folder descriptors only. True when nothing is left at the path afterwards.
bool remove_tree(const std::string& path);

// Copies a regular file's bytes onto `to`, replacing what is there, with `mode`, or with the
// source's permission bits (without set-id bits) when `mode` is -1, and flushes it to disk.
// False when `from` is not a regular file `reader` may read, or `to` cannot be written whole.
bool copy_file_over(const std::string& from, const std::string& to, const Reader& reader = {},
                    int mode = -1);

// Copies a symbolic link as a link (the same target text). False when `to` exists.
bool copy_link(const std::string& from, const std::string& to);

// A regular file read whole, at most `max` bytes, when `reader` may read it. False otherwise.
bool read_regular(const std::string& path, std::string& out, size_t max, const Reader& reader = {});

// Writes `bytes` as a new file at `path` (what was there is removed first), flushed to disk.
bool write_new_file(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// Creates the folder and its missing parents (mode 0755); true when it exists afterwards.
bool make_folders(const std::string& path);

// fsync of every file and folder of the tree, the folder at `path` last. True when all succeeded.
bool flush_tree(const std::string& path);
// fsync of one folder, so that renames and removals in it survive a power cut.
bool flush_folder(const std::string& path);

// Hands the tree to uid:gid, never following a link and never touching a file with other names
// elsewhere (a hard link). True when every entry changed owner.
bool hand_over_tree(const std::string& path, unsigned uid, unsigned gid);

// The last component of a path.
std::string file_name(const std::string& path);

// access() for writing: false when this process may not write at the path (or it is missing).
bool writable(const std::string& path);

}  // namespace gm
