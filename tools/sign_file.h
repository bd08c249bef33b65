// Writing release files and their detached signatures, shared by the maintainer tools (gm-sign,
// gm-release): every file is replaced whole, and "<file>.sig" holds the 64 raw bytes of the
// file's Ed25519 signature.
//
// Threads: any; nothing is shared. Blocking: file writes with fsync.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "signature.h"

namespace gm_tools {

// Replaces the file at `path` with `bytes`: a temporary file beside it, fsync, rename. `mode`
// is the new file's permission bits. On failure the target is untouched.
bool write_whole(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// Signs `bytes` (the content of the file at `path`) with the private `key` and writes the
// signature to path + ".sig". The 64-byte signature; empty when signing or writing failed.
std::string sign_beside(const gm_loader::Ed25519Key& key, std::string_view bytes,
                        const std::string& path);

}  // namespace gm_tools
