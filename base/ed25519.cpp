// Ed25519 verification over a raw 32-byte public key, through OpenSSL EVP.
#include "base/ed25519.h"

#include <openssl/evp.h>

#include <memory>

namespace gm_base::ed25519 {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

bool verify(const uint8_t* sig, const uint8_t* msg, size_t len, const uint8_t* pub) {
  if (!sig || !pub || (!msg && len > 0)) return false;
  static const uint8_t kNothing = 0;
  std::unique_ptr<EVP_PKEY, KeyFree> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, pub, kKeyBytes));
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(ctx.get(), sig, kSigBytes, msg ? msg : &kNothing, len) == 1;
}

}  // namespace gm_base::ed25519
