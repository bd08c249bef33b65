// Reading the per-app Local Network switches out of the keyed-archiver property list in which
// macOS stores them. Only a few keys are relied on; everything else in the archive is ignored.
#include "netperm_archive.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace gm {
namespace {

constexpr size_t kTextMax = 511;  // longer strings are not identifiers this code compares
constexpr char kUidKey[] = "CF$UID";
constexpr char kValueTag[] = "value = ";

using PlistPtr = std::unique_ptr<void, decltype(&plist_free)>;

bool is(plist_t node, plist_type type) {
  return node && plist_get_node_type(node) == type;
}

// The decimal number after "value = " in a description, or -1.
int64_t number_after_tag(const char* text, size_t size) {
  const std::string s(text, size);
  const size_t at = s.find(kValueTag);
  if (at == std::string::npos) return -1;
  size_t i = at + sizeof kValueTag - 1;
  if (i >= s.size() || s[i] < '0' || s[i] > '9') return -1;
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (v > (INT64_MAX - 9) / 10) return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// The index an object reference points at, or -1. Archives written as XML hold references as
// {"CF$UID": n}; binary archives hold UID objects, whose description reads "{value = n}".
int64_t reference(plist_t v) {
  uint64_t n = 0;
  if (is(v, PLIST_DICT)) {
    plist_t uid = plist_dict_get_item(v, kUidKey);
    if (!is(uid, PLIST_UINT)) return -1;
    plist_get_uint_val(uid, &n);
  } else if (is(v, PLIST_UID)) {
    plist_get_uid_val(v, &n);
  } else if (is(v, PLIST_STRING)) {
    uint64_t size = 0;
    const char* text = plist_get_string_ptr(v, &size);
    return text ? number_after_tag(text, size) : -1;
  } else {
    return -1;
  }
  return n > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(n);
}

// The string that entry's field refers to, or "" (no such field, a reference outside the objects,
// an object that is not a string, or one longer than kTextMax bytes).
std::string referenced_text(plist_t entry, const char* key, plist_t objects) {
  const int64_t ref = reference(plist_dict_get_item(entry, key));
  if (ref < 0 || static_cast<uint64_t>(ref) >= plist_array_get_size(objects)) return "";
  plist_t target = plist_array_get_item(objects, static_cast<uint32_t>(ref));
  if (!is(target, PLIST_STRING)) return "";
  uint64_t size = 0;
  const char* text = plist_get_string_ptr(target, &size);
  if (!text) return "";
  const size_t len = strnlen(text, static_cast<size_t>(size));
  return len > kTextMax ? "" : std::string(text, len);
}

// The boolean under key, or -1 when there is none of that type.
int flag(plist_t entry, const char* key) {
  plist_t v = plist_dict_get_item(entry, key);
  if (!is(v, PLIST_BOOLEAN)) return -1;
  uint8_t b = 0;
  plist_get_bool_val(v, &b);
  return b ? 1 : 0;
}

// Adds one element of "$objects" to the map when it is an app's multicast switch.
void take_entry(plist_t entry, plist_t objects, std::map<std::string, int>* out) {
  if (!is(entry, PLIST_DICT)) return;
  const std::string id = referenced_text(entry, "SigningIdentifier", objects);
  if (id.empty() || flag(entry, "MulticastPreferenceSet") != 1) return;
  const std::string path = referenced_text(entry, "Path", objects);
  if (!path.empty() && path != "$null") return;  // tied to a program's path, not an app switch
  const int deny = flag(entry, "DenyMulticast");
  if (deny < 0) return;
  out->emplace(id, deny ? kSwitchOff : kSwitchOn);  // the first entry for an identifier wins
}

}  // namespace

bool parse_switches(const std::string& bytes, std::map<std::string, int>* out) {
  out->clear();
  if (bytes.empty() || bytes.size() > UINT32_MAX) return false;
  plist_t root_raw = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root_raw);
  const PlistPtr root(root_raw, &plist_free);
  if (!is(root.get(), PLIST_DICT)) return false;
  plist_t objects = plist_dict_get_item(root.get(), "$objects");
  if (!is(objects, PLIST_ARRAY)) return false;
  const uint32_t n = plist_array_get_size(objects);
  for (uint32_t i = 0; i < n; ++i) take_entry(plist_array_get_item(objects, i), objects, out);
  return true;
}

int ln_switch_parse(const std::string& bytes, const std::string& id) {
  std::map<std::string, int> switches;
  if (!parse_switches(bytes, &switches)) return kSwitchUnreadable;
  const auto it = switches.find(id);
  return it == switches.end() ? kSwitchUnlisted : it->second;
}

}  // namespace gm
