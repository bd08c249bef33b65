// Ed25519 signature verification (RFC 8032, pure Ed25519 over SHA-512) through OpenSSL's EVP
// interface. Its own library, gm_ed25519, so that gm_base stays free of OpenSSL for the module;
// the loader stand-in and the app core link it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gm_base::ed25519 {

constexpr size_t kKeyBytes = 32;
constexpr size_t kSigBytes = 64;

// True when `sig` (64 bytes, R || S) is a valid signature of the `len` bytes at `msg` by the
// 32-byte public key `pub`. A key that does not decode to a curve point, a null pointer (msg may
// be null when len is 0) or any failure inside OpenSSL gives false. Thread-safe, never blocks.
bool verify(const uint8_t* sig, const uint8_t* msg, size_t len, const uint8_t* pub);

}  // namespace gm_base::ed25519
