// Helpers shared by the loader tests: the repository's test key pair, signing and copying files,
// and the loader status block as the app reads it.
#pragma once

#include <openssl/evp.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "loader_layout.h"
#include "signature.h"
#include "support/installed_bundle.h"
#include "support/temp_home.h"

namespace loadertest {

inline gm_loader::Ed25519Key load_test_key(bool private_half) {
  gm_loader::Ed25519Key k;
  const std::string dir = GM_TEST_KEYS_DIR;
  if (private_half) k.load_private_pem(gmtest::read_file(dir + "/test-release.pem"));
  if (!private_half) k.load_public_pem(gmtest::read_file(dir + "/test-release.pub"));
  return k;
}
inline const gm_loader::Ed25519Key& test_private_key() {
  static const gm_loader::Ed25519Key key = load_test_key(true);
  return key;
}
inline const gm_loader::Ed25519Key& test_public_key() {
  static const gm_loader::Ed25519Key key = load_test_key(false);
  return key;
}

// A signature of `bytes` by a freshly made Ed25519 key that is not the release key.
inline std::string sign_with_a_new_key(const std::string& bytes) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::string sig(64, '\0');
  size_t len = sig.size();
  if (!key || !ctx || EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key) != 1 ||
      EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(sig.data()), &len,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
    sig.clear();
  }
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(key);
  return sig;
}

// Base64 of bytes, as the release manifest carries bodies and signatures.
inline std::string b64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  out.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
  return out;
}

// The update server's reply around a signed manifest body, laid out as gm-release writes it;
// signed with the test key unless `sig` is given.
inline std::string release_reply(const std::string& body, std::string sig = "",
                                 const char* format = "/1", const char* platform = "macos") {
  if (sig.empty()) sig = test_private_key().sign(body);
  return std::string(R"({"manifest":{"format":"gainmesh-release)") + format +
         R"(","platforms":{")" + platform + R"(":{"body":")" + b64(body) + R"(","sig":")" +
         b64(sig) + "\"}}}}";
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  gmtest::make_dirs(std::filesystem::path(path).parent_path().string());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Signs the file at `path` with the test key into path + ".sig".
inline void sign(const std::string& path) {
  write_bytes(path + ".sig", test_private_key().sign(gmtest::read_file(path)));
}

inline void copy(const std::string& from, const std::string& to) {
  gmtest::make_dirs(std::filesystem::path(to).parent_path().string());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// The loader status block in run_dir as the app reads it, and its rescan counter (the first word
// of its tail).
inline GmLoaderStatus loader_block(const std::string& run_dir) {
  return gmtest::read_loader_block(run_dir + "/" + GM_LOADER_FILE);
}
inline uint32_t rescans(const GmLoaderStatus& b) {
  uint32_t n;
  std::memcpy(&n, b.tail, 4);
  return n;
}

}  // namespace loadertest
