// Ed25519 verification against the published RFC 8032 vectors; one flipped bit anywhere in the
// message, the signature or the key makes it fail.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/ed25519.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& h) {
  Bytes out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

TEST(Ed25519, PublishedVectorsVerifyAndAnyFlippedBitFails) {
  // RFC 8032 section 7.1, TEST 1, 2 and 3: public key, message, signature.
  const char* vectors[][3] = {
      {"d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
       "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
       "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
      {"fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
       "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
       "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
  };
  for (const auto& v : vectors) {
    Bytes in[3] = {hex(v[0]), hex(v[1]), hex(v[2])};  // key, message, signature
    auto ok = [&] {
      return gm_base::ed25519::verify(in[2].data(), in[1].data(), in[1].size(), in[0].data());
    };
    EXPECT_TRUE(ok()) << v[0];
    for (Bytes& b : in) {
      for (size_t bit = 0; bit < b.size() * 8; bit += 3) {
        b[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(ok()) << v[0] << " bit " << bit;
        b[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      }
    }
    in[0].assign(32, 0);
    in[0][0] = 2;  // y = 2 has no x on the curve
    EXPECT_FALSE(ok());
  }
}

}  // namespace
