// Helpers shared by the loader tests: the repository's test key pair, signing and copying files,
// and a read-only view of the loader status block as the app maps it.
#pragma once

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "loader_layout.h"
#include "signature.h"
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

// A console entry on one line, every field in order, texts cut at their field's size.
inline std::string summary(const GmLoaderConsole& c) {
  char s[256];
  std::snprintf(s, sizeof s, "%.8s on=%u present=%u slot=%u kind=%u run=%.24s err=%u/%u file=%.64s",
                c.key, c.enabled, c.module_present, c.in_slot, c.card_kind, c.running_version,
                c.load_error, c.error_code, c.module_file);
  return s;
}

// The loader status block mapped read-only, as another process sees it.
class LoaderBlock {
 public:
  explicit LoaderBlock(const std::string& run_dir) {
    const int fd = open((run_dir + "/" + GM_LOADER_FILE).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0) return;
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(GmLoaderStatus))) {
      size_ = st.st_size;
      void* m = mmap(nullptr, sizeof(GmLoaderStatus), PROT_READ, MAP_SHARED, fd, 0);
      if (m != MAP_FAILED) blk_ = static_cast<const GmLoaderStatus*>(m);
    }
    close(fd);
  }
  ~LoaderBlock() {
    if (blk_) munmap(const_cast<GmLoaderStatus*>(blk_), sizeof(GmLoaderStatus));
  }
  LoaderBlock(const LoaderBlock&) = delete;
  LoaderBlock& operator=(const LoaderBlock&) = delete;

  bool ok() const { return blk_ != nullptr; }
  off_t file_size() const { return size_; }
  const GmLoaderStatus* operator->() const { return blk_; }
  const GmLoaderConsole& wing() const { return blk_->consoles[0]; }
  const GmLoaderConsole& x32() const { return blk_->consoles[1]; }
  // The tail's first word: how often the loader has rescanned.
  uint32_t rescans() const {
    uint32_t n;
    std::memcpy(&n, blk_->tail, 4);
    return n;
  }

 private:
  const GmLoaderStatus* blk_ = nullptr;
  off_t size_ = 0;
};

}  // namespace loadertest
