// Ed25519 keys, signing and verification through OpenSSL EVP.
#include "signature.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cerrno>

#include "base/ed25519.h"

namespace gm_loader {
namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

std::unique_ptr<BIO, BioFree> mem_bio(std::string_view text) {
  return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

EVP_PKEY* only_ed25519(EVP_PKEY* k) {
  if (k && EVP_PKEY_id(k) != EVP_PKEY_ED25519) {
    EVP_PKEY_free(k);
    return nullptr;
  }
  return k;
}

}  // namespace

void Ed25519Key::Free::operator()(EVP_PKEY* k) const {
  EVP_PKEY_free(k);
}

// Keeps `k` with its raw public half, which verification works from; false (no key) without one.
bool Ed25519Key::keep(EVP_PKEY* k) {
  key_.reset(only_ed25519(k));
  size_t len = sizeof raw_;
  if (key_ && (EVP_PKEY_get_raw_public_key(key_.get(), raw_, &len) != 1 || len != sizeof raw_)) {
    key_.reset();
  }
  return ok();
}

bool Ed25519Key::load_public_pem(std::string_view pem) {
  auto bio = mem_bio(pem);
  return keep(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

bool Ed25519Key::load_private_pem(std::string_view pem) {
  auto bio = mem_bio(pem);
  return keep(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

bool Ed25519Key::load_public_raw(const uint8_t (&key)[32]) {
  return keep(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key, sizeof key));
}

bool Ed25519Key::verify(std::string_view msg, std::string_view sig) const {
  if (!key_ || sig.size() != kSigBytes) return false;
  return gm_base::ed25519::verify(reinterpret_cast<const uint8_t*>(sig.data()),
                                  reinterpret_cast<const uint8_t*>(msg.data()), msg.size(), raw_);
}

std::string Ed25519Key::sign(std::string_view msg) const {
  MdCtx ctx(EVP_MD_CTX_new());
  if (!key_ || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()) != 1) {
    return "";
  }
  std::string sig(kSigBytes, '\0');
  size_t len = sig.size();
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &len,
                     reinterpret_cast<const unsigned char*>(msg.data()), msg.size()) != 1 ||
      len != kSigBytes) {
    return "";
  }
  return sig;
}

std::string Ed25519Key::public_pem() const {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!key_ || !bio || PEM_write_bio_PUBKEY(bio.get(), key_.get()) != 1) return "";
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  return len > 0 ? std::string(data, static_cast<size_t>(len)) : "";
}

bool read_fd(int fd, std::string& out, size_t cap) {
  out.clear();
  char buf[65536];
  for (off_t pos = 0;;) {
    const ssize_t n = pread(fd, buf, sizeof buf, pos);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (out.size() + static_cast<size_t>(n) > cap) return false;
    out.append(buf, static_cast<size_t>(n));
    pos += n;
  }
}

bool read_file(const std::string& path, std::string& out, size_t cap) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = read_fd(fd, out, cap);
  close(fd);
  return ok;
}

SigCheck check_signature(const std::string& bytes, const std::string& path, const Ed25519Key& key) {
  const int fd = open((path + ".sig").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SigCheck::kNoSignature;
  std::string sig;
  const bool read = read_fd(fd, sig, 65536);
  close(fd);
  return read && key.verify(bytes, sig) ? SigCheck::kOk : SigCheck::kBadSignature;
}

}  // namespace gm_loader
