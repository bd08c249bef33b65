// The pieces of a whole-file replacement that the app, its support file and the module share: a
// fresh temporary file beside the target, and flushing the folder once the temporary file has
// been renamed over the target. The callers write, fsync and rename themselves.
//
// Threads: any thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>

namespace gm_base {

// Creates a new file named target + ".part." + process id + "." + n, with n the next value of
// `counter` (the first is 1), write-only, close-on-exec, with `mode` (narrowed by the umask).
// Never opens anything already there: a name that is taken (by a file, a folder or a symbolic
// link, dangling or not) is skipped for the next value, at most 8 times. Returns the descriptor
// with `tmp` set to the name, or -1 with errno set.
int create_temp_beside(const std::string& target, mode_t mode, std::atomic<unsigned>& counter,
                       std::string& tmp);

// Flushes the entries of the folder that holds `path` to disk, so that a rename into it
// survives a crash or a power cut. True when flushed, and when the folder's file system cannot
// flush folders at all (EINVAL); false with errno set otherwise.
bool sync_parent_dir(const std::string& path);

}  // namespace gm_base
