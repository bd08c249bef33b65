// Ed25519 detached signatures over a file's bytes: "<file>.sig" holds the 64 raw signature bytes.
// Built on OpenSSL's EVP interface; verification is gm_ed25519's, the same as the app's. Keys are
// PEM (public: SubjectPublicKeyInfo, private: PKCS#8) or the 32 raw bytes of a public key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

typedef struct evp_pkey_st EVP_PKEY;

namespace gm_loader {

constexpr size_t kSigBytes = 64;
// Module and loader files are at most this large; larger ones never verify.
constexpr size_t kMaxSignedBytes = 64u << 20;

// An Ed25519 key, public or private. Immutable once loaded; verification is thread-safe.
class Ed25519Key {
 public:
  Ed25519Key() = default;
  // From PEM text; false (and an empty key) when it is not an Ed25519 key of the wanted kind.
  bool load_public_pem(std::string_view pem);
  bool load_private_pem(std::string_view pem);
  // From the 32 raw bytes of a public key (the built-in release key).
  bool load_public_raw(const uint8_t (&key)[32]);

  bool ok() const { return key_ != nullptr; }
  // True when `sig` is a valid 64-byte signature of `msg` by this key (or its private half).
  bool verify(std::string_view msg, std::string_view sig) const;
  // The 64-byte signature of `msg`; empty when this is not a private key or signing failed.
  std::string sign(std::string_view msg) const;
  // The public key in PEM; empty when there is no key.
  std::string public_pem() const;

 private:
  struct Free {
    void operator()(EVP_PKEY* k) const;
  };
  bool keep(EVP_PKEY* k);

  std::unique_ptr<EVP_PKEY, Free> key_;
  uint8_t raw_[32] = {};
};

// Reads the whole file at `path` into `out`; false when it cannot be read or exceeds `cap`.
bool read_file(const std::string& path, std::string& out, size_t cap = kMaxSignedBytes);
// The same for an open descriptor, read from offset 0.
bool read_fd(int fd, std::string& out, size_t cap = kMaxSignedBytes);

enum class SigCheck { kOk, kNoSignature, kBadSignature };

// Checks `bytes` (a file's content) against the file "<path>.sig": missing or unreadable ->
// kNoSignature; not 64 bytes or not verifying -> kBadSignature.
SigCheck check_signature(const std::string& bytes, const std::string& path, const Ed25519Key& key);

}  // namespace gm_loader
