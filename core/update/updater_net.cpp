// The update server over HTTPS with libcurl, and the checks every downloaded file must pass.
#include "updater_net.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <mutex>

#include "util.h"

namespace gm {
namespace {

constexpr const char* kEndpoint = "https://updates.ambervale.org";
constexpr const char* kUserAgent = "Gainmesh/3.2.0 updater (macOS)";

struct Sink {
  Bytes* out;
  size_t max;
  bool overflow = false;
};

size_t on_data(char* data, size_t size, size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  if (sink->out->size() + n > sink->max) {
    sink->overflow = true;
    return 0;  // aborts the transfer
  }
  sink->out->insert(sink->out->end(), data, data + n);
  return n;
}

// A test-only setting; a build without the tests never reads one.
const char* test_setting(const char* name) {
#ifdef GM_TEST_HOOKS
  const char* v = std::getenv(name);
  return v && v[0] ? v : nullptr;
#else
  (void)name;
  return nullptr;
#endif
}

}  // namespace

std::string update_manifest_url() {
  const char* base = test_setting("GAINMESH_TEST_UPDATE_URL");
  return std::string(base ? base : kEndpoint) + "/v1/updates?product=gainmesh&platform=macos";
}

bool https_get(const std::string& url, Bytes& out, size_t max, int& http) {
  out.clear();
  http = 0;
  if (url.rfind("https://", 0) != 0) return false;
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_ALL); });
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  Sink sink{&out, max};
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_data);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  if (const char* ca = test_setting("GAINMESH_TEST_UPDATE_CA"))
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca);
  const CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  http = static_cast<int>(status);
  if (rc != CURLE_OK && !sink.overflow) {
    logf("https: %s - %s", url.c_str(), error[0] ? error : curl_easy_strerror(rc));
  }
  return rc == CURLE_OK && !sink.overflow && http == 200;
}

bool sha256_hex(const Bytes& bytes, std::string& out) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  out.clear();
  if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) ||
      length != 32) {
    return false;
  }
  static const char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return true;
}

bool fetch_item(const gm_release::Item& item, Bytes& out, std::string& err) {
  int http = 0;
  if (!https_get(item.url, out, gm_release::kMaxFileBytes, http)) {
    err = "download failed (HTTP " + std::to_string(http) + ")";
    return false;
  }
  if (out.size() != item.size) {
    err = "wrong size";
    return false;
  }
  std::string sha;
  if (!sha256_hex(out, sha) || sha != item.sha256) {
    err = "SHA-256 mismatch";
    return false;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(out.data()), out.size());
  if (!gm_release::signed_by_release_key(bytes, item.sig)) {
    err = "signature does not verify";
    return false;
  }
  return true;
}

}  // namespace gm
