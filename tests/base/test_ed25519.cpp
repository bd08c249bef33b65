// Ed25519 verification against the published RFC 8032 vectors, and one flipped bit anywhere in
// the message, the signature or the key making it fail.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/ed25519.h"

namespace {

std::vector<uint8_t> hex(const std::string& h) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

struct Vector {
  const char* name;
  const char* pub;
  const char* msg;
  const char* sig;
};

// RFC 8032 section 7.1: TEST 1, 2, 3 and TEST SHA(abc).
const Vector kVectors[] = {
    {"TEST 1", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"TEST 2", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"TEST 3", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    {"TEST SHA(abc)", "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b589"
     "09351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad9bef1177331a704"},
};

bool verify(const std::vector<uint8_t>& sig, const std::vector<uint8_t>& msg,
            const std::vector<uint8_t>& pub) {
  return gm_base::ed25519::verify(sig.data(), msg.empty() ? nullptr : msg.data(), msg.size(),
                                  pub.data());
}

TEST(Ed25519, PublishedVectorsVerifyAndAnyFlippedBitFails) {
  for (const Vector& v : kVectors) {
    const auto pub = hex(v.pub), msg = hex(v.msg), sig = hex(v.sig);
    EXPECT_TRUE(verify(sig, msg, pub)) << v.name;
    for (size_t bit = 0; bit < sig.size() * 8; bit += 7) {
      auto s = sig;
      s[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      EXPECT_FALSE(verify(s, msg, pub)) << v.name << " signature bit " << bit;
    }
    for (size_t bit = 0; bit < pub.size() * 8; bit += 5) {
      auto k = pub;
      k[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      EXPECT_FALSE(verify(sig, msg, k)) << v.name << " key bit " << bit;
    }
    for (size_t bit = 0; bit < msg.size() * 8; bit += 3) {
      auto m = msg;
      m[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      EXPECT_FALSE(verify(sig, m, pub)) << v.name << " message bit " << bit;
    }
    auto longer = msg;
    longer.push_back(0);
    EXPECT_FALSE(verify(sig, longer, pub)) << v.name << " one byte appended";
  }
}

TEST(Ed25519, KeysOffTheCurveAndMissingInputsFail) {
  const Vector& v = kVectors[1];
  const auto msg = hex(v.msg), sig = hex(v.sig);
  std::vector<uint8_t> off_curve(32, 0);
  off_curve[0] = 2;  // y = 2 has no x on the curve
  EXPECT_FALSE(verify(sig, msg, off_curve));
  EXPECT_FALSE(gm_base::ed25519::verify(nullptr, msg.data(), msg.size(), hex(v.pub).data()));
  EXPECT_FALSE(gm_base::ed25519::verify(sig.data(), nullptr, 1, hex(v.pub).data()));
  EXPECT_FALSE(gm_base::ed25519::verify(sig.data(), msg.data(), msg.size(), nullptr));
}

}  // namespace
