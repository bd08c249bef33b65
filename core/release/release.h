// Release manifests and signatures: what the update server offers for this platform, trusted
// only after its body verifies against the release key built into the app, and the check of a
// downloaded or staged file against its detached "<file>.sig". Pure functions over bytes (apart
// from pair_ok, which reads two files), thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ed25519.h"
#include "base/release_key.h"
#include "release_json.h"
#include "release_text.h"

namespace gm_release {

// Ed25519 verification and the 32-byte release public key fixed at build time.
namespace ed25519 = gm_base::ed25519;
using gm_base::kGainmeshReleaseKey;

// Files larger than this are never downloaded, verified or installed.
constexpr uint64_t kMaxFileBytes = 67108864;
// The longest release version: a stage keeps it in 64 bytes.
constexpr size_t kMaxVersionBytes = 64;

// What this build looks for in a manifest.
struct Platform {
  const char* name;         // key under "platforms", and the signed body's "platform"
  const char* module_ext;   // console module file extension
  const char* loader_file;  // the loader's file name
  const char* app_file;     // the app archive's file name
};
inline constexpr Platform kMac = {"macos", ".dylib", "Gainmesh.dylib", "Gainmesh.app.zip"};

// One downloadable file. An empty item (no loader or no app in a release) has empty strings, no
// signature, size 0 and abi -1.
struct Item {
  std::string file, version, url, sha256, console;
  std::string sig;  // 64 raw bytes once accepted
  uint64_t size = 0;
  int32_t abi = -1;  // the loader-module interface version a module needs; -1: none stated
};

// The verified content of a manifest.
struct Release {
  std::string version;
  std::vector<Item> modules;
  Item loader, app;
};

// True when `sig` is the 64-byte Ed25519 signature of `bytes` by kGainmeshReleaseKey.
bool signed_by_release_key(std::string_view bytes, std::string_view sig);

// Reads an item object into `item` and accepts it only when its signature decodes to 64 bytes,
// its file name is not empty and holds only ASCII letters, digits, "-", "." and "_", its url
// begins with "https://", its sha256 is 64 characters, 0 < size <= kMaxFileBytes and its version
// parses. `item` is filled either way.
bool item_of(const J& j, Item& item);

// A module item's names agree: console is 1 to 16 of a-z and 0-9 starting with a letter,
// version is three decimal numbers joined by "." (anything may follow), and file is
// console + "-" + version + ext.
bool module_name_ok(std::string_view console, std::string_view version, std::string_view file,
                    std::string_view ext);

// Parses the update server's reply, verifies the signed body of this platform's entry with
// kGainmeshReleaseKey and keeps the valid items for `platform`. On failure `err` holds one of:
// "reply is not JSON", "no release in the current format", "no release for this platform",
// "malformed release entry", "release manifest is NOT signed by Gainmesh - ignored",
// "signed manifest is not JSON", "manifest is for another product or platform", "release
// version is empty or longer than 64 bytes"; `out` is then partly filled and not to be used.
// Invalid items are dropped without a message.
bool load_release(std::string_view bytes, const Platform& platform, Release& out, std::string& err);

}  // namespace gm_release

namespace gm {

// True when the file at `path` and its detached signature `path + ".sig"` (64 bytes) both read
// (each at most 64 MiB) and the signature verifies against the release key. Blocks on the reads.
bool pair_ok(const std::string& path);

}  // namespace gm
