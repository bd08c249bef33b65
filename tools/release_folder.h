// A release folder as the update server serves it, built from the files of a build:
//
//   <out>/manifest.json       the reply to GET /v1/updates?product=gainmesh&platform=macos: the
//                             signed body of the "macos" entry and its signature, both Base64
//   <out>/files/<file>        each file of the release, named as the app expects it
//                             ("<console>-<version>.dylib", "Gainmesh.dylib", "Gainmesh.app.zip")
//   <out>/files/<file>.sig    its detached Ed25519 signature
//
// Each item's url is the base URL + "/" + its file name. The manifest is written last, so a
// server never offers a file that is not there yet. Files of an earlier release in the same
// folder stay.
//
// Threads: any. Blocking: reads and writes whole files.
#pragma once

#include <string>
#include <vector>

#include "signature.h"

namespace gm_tools {

struct ReleaseFile {
  enum class Kind { kModule, kLoader, kApp };
  Kind kind = Kind::kModule;
  std::string console;  // modules: the console key ("wing")
  std::string version;
  std::string source;  // the built file; for the app a folder to zip or a finished zip file
  int abi = -1;        // modules: the loader interface they need; -1 leaves "abi" out
};

struct ReleasePlan {
  std::string version;   // the release's own version
  std::string base_url;  // "https://host[:port]/path" the files are served under
  std::string out_dir;
  std::vector<ReleaseFile> files;
};

// Checks what the app would refuse or drop before anything is built: versions that do not
// parse, a base URL that is not HTTPS, a console key or module version that breaks the module
// naming rule, the same file twice. False with one sentence in err.
bool check_plan(const ReleasePlan& plan, std::string& err);

// Copies, signs and lists every file, then writes the manifest signed with the private `key`.
// False with one sentence in err when a file cannot be read (or is empty or above 64 MiB), an app
// folder holds a console module without a signature by `key` beside it, or something cannot be
// written; the manifest is then left as it was.
bool build_release(const ReleasePlan& plan, const gm_loader::Ed25519Key& key, std::string& err);

}  // namespace gm_tools
