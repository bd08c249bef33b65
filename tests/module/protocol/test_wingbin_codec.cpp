// The native protocol's bytes: messages as the module sends them, the receive-side unescaping,
// token lengths and the value, string and hash decoders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wingbin_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const gm::WbinBuf& m) {
  return Bytes(m.b, m.b + m.n);
}

Bytes unescape(gm::WbinUnescaper& u, const Bytes& in) {
  uint8_t out[512];
  return Bytes(out, out + u.feed(in.data(), in.size(), out, sizeof out));
}

TEST(WbinMessage, IndexesFloatsAndNamesEscapeEveryDataByteDF) {
  gm::WbinBuf m;
  m.index(64);
  m.index(65);
  m.index(0xE0);   // index - 1 = 0x00DF
  m.f32(27.875f);  // 0x41DF0000
  const char odd[] = {'x', static_cast<char>(0xDF), '\0'};
  m.name(odd);
  EXPECT_EQ(bytes_of(m), (Bytes{0x7F, 0xD2, 0x00, 0x40, 0xD2, 0x00, 0xDF, 0xDE, 0xD5, 0x41, 0xDF,
                                0xDE, 0x00, 0x00, 0xC1, 'x', 0xDF, 0xDE}));
}

TEST(WbinMessage, NamesAndStringsAreCutAndEmptyOnesFollowTheirRules) {
  gm::WbinBuf m;
  m.name("abcdefghijklmnopqrst");
  m.name("");
  m.name(nullptr);
  Bytes want = {0xCF};
  for (char c = 'a'; c <= 'p'; ++c) want.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(bytes_of(m), want);

  gm::WbinBuf s;
  s.str("");
  s.str("ST");
  s.str(std::string(70, 'z').c_str());
  ASSERT_EQ(s.n, 4u + 65u);
  EXPECT_EQ(Bytes(s.b, s.b + 5), (Bytes{0xD0, 0x81, 'S', 'T', 0xBF}));
  EXPECT_EQ(s.b[68], 'z');

  gm::WbinBuf full;
  for (int i = 0; i < 40; ++i) full.name("abcdefghijklmnop");
  full.raw(0x01);
  EXPECT_EQ(full.n, 256u);
}

TEST(WbinUnescape, EscapesSplitAcrossCallsSelectsAndCapacity) {
  gm::WbinUnescaper u;
  EXPECT_EQ(unescape(u, {0x10, 0xDF}), (Bytes{0x10}));
  EXPECT_EQ(unescape(u, {0xDE, 0x11}), (Bytes{0xDF, 0x11}));
  // Channel selects are dropped; DF DF keeps one DF and stays pending; DF + another byte keeps
  // both.
  EXPECT_EQ(unescape(u, {0xDF, 0xD1, 0x05, 0xDF, 0xDD}), (Bytes{0x05}));
  EXPECT_EQ(u.channel, 0xDD);
  EXPECT_EQ(unescape(u, {0xDF, 0xDF, 0xDE}), (Bytes{0xDF, 0xDF}));
  EXPECT_EQ(unescape(u, {0xDF, 0x00, 0x03}), (Bytes{0xDF, 0x00, 0x03}));

  const uint8_t in[] = {1, 2, 0xDF, 0xDE, 4};
  uint8_t out[3] = {};
  EXPECT_EQ(u.feed(in, sizeof in, out, sizeof out), 3u);
  EXPECT_EQ(out[2], 0xDF);
  EXPECT_FALSE(u.pending);
}

TEST(WbinTokens, LengthsOfEveryKind) {
  const struct {
    Bytes b;
    int len;
  } cases[] = {
      {{0x00}, 1},  {{0x7F}, 1}, {{0x80}, 2},  {{0xBF}, 65},       {{0xC0}, 2},
      {{0xCF}, 17}, {{0xD0}, 1}, {{0xD1}, -1}, {{0xD1, 0x04}, 7},  {{0xD2}, 3},
      {{0xD3}, 3},  {{0xD4}, 5}, {{0xD5}, 5},  {{0xD6}, 5},        {{0xD7}, 5},
      {{0xD8}, 1},  {{0xD9}, 2}, {{0xDE}, 1},  {{0xDF, 0x01}, -1}, {{0xDF, 0x01, 0x02}, 0x105},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gm::wbin_token_len(c.b.data(), static_cast<int>(c.b.size())), c.len)
        << std::hex << int(c.b[0]);
  }
  const uint8_t b = 0x00;
  EXPECT_EQ(gm::wbin_token_len(&b, 0), -1);
}

TEST(WbinDecode, ValuesOfEveryNumberTokenAndTheirFlags) {
  const struct {
    Bytes b;
    double value;
    bool flag;
  } cases[] = {
      {{0x00}, 0, false},
      {{0x01}, 1, true},
      {{0x2A}, 42, true},
      {{0xD3, 0xFF, 0xFE}, -2, true},
      {{0xD4, 0x00, 0x01, 0x00, 0x00}, 65536, true},
      {{0xD5, 0xC0, 0x40, 0x00, 0x00}, -3.0, true},
      {{0xD5, 0x00, 0x00, 0x00, 0x00}, 0, false},
      {{0xC0, 0x67, 0x81, 0x01}, 1, true},  // bytes before the value are skipped
  };
  for (const auto& c : cases) {
    double v = -99;
    bool f = !c.flag;
    ASSERT_TRUE(gm::wbin_value_of(c.b.data(), static_cast<int>(c.b.size()), &v, &f));
    EXPECT_EQ(std::pair(v, f), std::pair(c.value, c.flag)) << std::hex << int(c.b[0]);
  }
}

// (That no decoder reads past the length it is given: fuzz_wbin_decoders, on exact-size copies.)
TEST(WbinDecode, StringsAndReplyHashes) {
  double v;
  bool f;
  const Bytes flt = {0xD5, 0x3F, 0x80, 0x00, 0x00};
  const Bytes none = {0x80, 0xC5, 0xD0, 0xDE};
  EXPECT_FALSE(gm::wbin_value_of(none.data(), 4, &v, &f));

  char out[8] = "";
  const Bytes empty = {0xD0}, shrt = {0x82, 'M', '/', 'S'}, num = {0x01};
  Bytes lng = {0xD1, 9};
  for (int i = 0; i < 10; ++i) lng.push_back(static_cast<uint8_t>('0' + i));
  EXPECT_FALSE(gm::wbin_string_of(num.data(), 1, out, sizeof out));
  ASSERT_TRUE(gm::wbin_string_of(empty.data(), 1, out, sizeof out));
  EXPECT_STREQ(out, "");
  ASSERT_TRUE(gm::wbin_string_of(shrt.data(), 4, out, sizeof out));
  EXPECT_STREQ(out, "M/S");
  ASSERT_TRUE(gm::wbin_string_of(lng.data(), static_cast<int>(lng.size()), out, sizeof out));
  EXPECT_STREQ(out, "0123456");  // cut to the output size minus one

  const Bytes r = {0xD7, 0x1C, 0xB9, 0xCE, 0x6B, 0x01};
  EXPECT_EQ(gm::wbin_hash_of_reply(r.data(), 5), 0x1CB9CE6Bu);
  EXPECT_EQ(gm::wbin_hash_of_reply(r.data() + 1, 5), 0u);
  EXPECT_EQ(gm::wbin_hash_of_reply(flt.data(), 4), 0u);
}

}  // namespace
