// File-system steps the installer is built from: listing a folder, removing a tree, copying a
// file or a symbolic link, and whether this process may write somewhere.
//
// Threads: any; nothing here keeps state, logs or throws. Each call blocks on the file system.
#pragma once

#include <string>
#include <vector>

namespace gm {

// The entry names of a folder in listing order, without "." and "..". False (names cleared) when
// the folder cannot be opened or read to the end.
bool list_names(const std::string& dir, std::vector<std::string>& names);
// The same, with a missing or unreadable folder read as empty.
std::vector<std::string> names_in(const std::string& dir);

// Removes a file, a symbolic link (not its target) or a whole folder tree. True when nothing is
// left at the path afterwards.
bool remove_tree(const std::string& path);

// Copies a regular file's bytes and permission bits onto `to`, replacing what is there. False
// when `from` cannot be read or `to` cannot be written completely.
bool copy_file_over(const std::string& from, const std::string& to);

// Copies a symbolic link as a link (the same target text). False when `to` exists.
bool copy_link(const std::string& from, const std::string& to);

// The last component of a path.
std::string file_name(const std::string& path);

// access() for writing: false when this process may not write at the path (or it is missing).
bool writable(const std::string& path);

}  // namespace gm
