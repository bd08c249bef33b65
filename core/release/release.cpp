// Release manifests: the signed body, its items, and files with detached signatures.
#include "release.h"

#include <cmath>

#include "util.h"

namespace gm_release {
namespace {

const char* const kFormat = "gainmesh-release/1";

bool fail(std::string& err, const char* sentence) {
  err = sentence;
  return false;
}

// A number member, or `fallback` when it is missing or not a number.
double number_of(const J& j, std::string_view key, double fallback) {
  const J* v = j.get(key);
  return v && v->kind == J::kNumber ? v->number : fallback;
}

// Negative counts 0, fractions are cut off; anything above the cap stays above it.
uint64_t size_of(double n) {
  if (!(n > 0)) return 0;
  n = std::floor(n);
  return n > static_cast<double>(kMaxFileBytes) ? kMaxFileBytes + 1 : static_cast<uint64_t>(n);
}

// Negative -> -1 (none stated); beyond 32 bits -> the largest, which no loader offers.
int32_t abi_of(double n) {
  if (!(n >= 0)) return -1;
  return n >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(n);
}

bool file_chars_ok(std::string_view file) {
  for (const char c : file) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// Digits at `pos`, at least one; moves past them.
bool digits(std::string_view s, size_t& pos) {
  const size_t start = pos;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
  return pos > start;
}

// The named platform-file item, or the empty item.
Item named_item(const J& body, const char* key, const char* file) {
  Item item;
  const J* j = body.get(key);
  if (j && item_of(*j, item) && item.file == file) return item;
  return Item();
}

}  // namespace

bool signed_by_release_key(std::string_view bytes, std::string_view sig) {
  return sig.size() == ed25519::kSigBytes &&
         ed25519::verify(reinterpret_cast<const uint8_t*>(sig.data()),
                         reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                         kGainmeshReleaseKey);
}

bool item_of(const J& j, Item& item) {
  item = Item();
  item.file = j.str("file");
  item.version = j.str("version");
  item.url = j.str("url");
  item.sha256 = j.str("sha256");
  item.console = j.str("console");
  item.size = size_of(number_of(j, "size", 0));
  item.abi = abi_of(number_of(j, "abi", -1));
  const bool sig_ok = b64_decode(j.str("sig"), item.sig) && item.sig.size() == ed25519::kSigBytes;
  return sig_ok && !item.file.empty() && item.url.rfind("https://", 0) == 0 &&
         item.sha256.size() == 64 && item.size > 0 && item.size <= kMaxFileBytes &&
         parse_ver(item.version).major >= 0 && file_chars_ok(item.file);
}

bool module_name_ok(std::string_view console, std::string_view version, std::string_view file,
                    std::string_view ext) {
  if (console.empty() || console.size() > 16 || console[0] < 'a' || console[0] > 'z') return false;
  for (const char c : console) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  size_t pos = 0;
  if (!digits(version, pos) || pos == version.size() || version[pos++] != '.' ||
      !digits(version, pos) || pos == version.size() || version[pos++] != '.' ||
      !digits(version, pos) || parse_ver(version).major < 0) {
    return false;
  }
  std::string want(console);
  want.append("-").append(version).append(ext);
  return file == want;
}

bool load_release(std::string_view bytes, const Platform& platform, Release& out,
                  std::string& err) {
  out = Release();
  J root;
  if (!parse_json(bytes, root)) return fail(err, "reply is not JSON");
  const J* manifest = root.get("manifest");
  const J* format = manifest ? manifest->get("format") : nullptr;
  if (!format || format->kind != J::kString || format->text != kFormat) {
    return fail(err, "no release in the current format");
  }
  const J* platforms = manifest->get("platforms");
  const J* entry = platforms ? platforms->get(platform.name) : nullptr;
  if (!entry) return fail(err, "no release for this platform");

  std::string body, sig;
  if (!b64_decode(entry->str("body"), body) || !b64_decode(entry->str("sig"), sig) ||
      sig.size() != ed25519::kSigBytes) {
    return fail(err, "malformed release entry");
  }
  if (!signed_by_release_key(body, sig))
    return fail(err, "release manifest is NOT signed by Gainmesh - ignored");

  J signed_body;
  if (!parse_json(body, signed_body)) return fail(err, "signed manifest is not JSON");
  if (signed_body.str("product") != "gainmesh" || signed_body.str("platform") != platform.name) {
    return fail(err, "manifest is for another product or platform");
  }
  out.version = signed_body.str("version");
  // A stage is complete only with its version; one it cannot hold would be fetched forever.
  if (out.version.empty() || out.version.size() > kMaxVersionBytes) {
    return fail(err, "release version is empty or longer than 64 bytes");
  }
  const J* modules = signed_body.get("modules");
  if (modules && modules->kind == J::kArray) {
    for (const J& m : modules->items) {
      Item item;
      if (item_of(m, item) &&
          module_name_ok(item.console, item.version, item.file, platform.module_ext)) {
        out.modules.push_back(std::move(item));
      }
    }
  }
  out.loader = named_item(signed_body, "loader", platform.loader_file);
  out.app = named_item(signed_body, "app", platform.app_file);
  return true;
}

}  // namespace gm_release

namespace gm {

bool pair_ok(const std::string& path) {
  std::string bytes, sig;
  if (!read_file(path, bytes, gm_release::kMaxFileBytes) ||
      !read_file(path + ".sig", sig, gm_release::kMaxFileBytes)) {
    return false;
  }
  return gm_release::signed_by_release_key(bytes, sig);
}

}  // namespace gm
