// The byte-exact rules a release manifest is read by: the JSON reader, Base64 and the version
// order.
#include <gtest/gtest.h>

#include <string>

#include "release_json.h"
#include "release_text.h"

namespace {

using gm_release::J;

TEST(ReleaseJson, AcceptsExactlyTheDocumentsItsRulesAllow) {
  const struct {
    std::string doc;
    bool ok;
  } cases[] = {
      {"{\"a\": [1, -2.5e3, true, false, null, \"x\"]}\n", true},
      {" { } ", true},
      {"[ ]", true},
      {"{\"a\":1} {}", false},  // a second value
      {"[1,]", false},
      {"{\"a\":1,}", false},
      {"True", false},
      {"nul", false},
      {"1.2.3", false},
      {"-", false},
      {"\"open", false},
      {"\"\\x\"", false},
      {"\"\\u12g4\"", false},
      {"{1:2}", false},
      {"", false},
      {std::string(32, '[') + std::string(32, ']'), true},
      {std::string(33, '[') + std::string(33, ']'), false},
  };
  for (const auto& c : cases) {
    J j;
    EXPECT_EQ(gm_release::parse_json(c.doc, j), c.ok) << c.doc;
  }
}

TEST(ReleaseJson, StringsNumbersAndMembersReadAsWritten) {
  J j;
  ASSERT_TRUE(
      gm_release::parse_json(R"({"s":"\u00e9\u20ac\"\\\/\b\f\n\r\t","s":"second","n":1e2,"ctl":")"
                             "\x01\x7f"
                             R"("})",
                             j));
  EXPECT_EQ(j.str("s"), "\xC3\xA9\xE2\x82\xAC\"\\/\b\f\n\r\t") << "the first of duplicate keys";
  ASSERT_EQ(j.members.size(), 4u);
  EXPECT_EQ(j.members[1].second.text, "second");
  EXPECT_EQ(j.get("n")->number, 100);
  EXPECT_EQ(j.str("n"), "") << "not a string";
  EXPECT_EQ(j.str("ctl"), "\x01\x7f");
  EXPECT_EQ(j.get("missing"), nullptr);
  EXPECT_EQ(j.members[0].second.get("s"), nullptr) << "not an object";
  ASSERT_TRUE(gm_release::parse_json(R"("\ud83d\ude00\u0000")", j));
  EXPECT_EQ(j.text, std::string("\xED\xA0\xBD\xED\xB8\x80\0", 7)) << "code units stay apart";
}

TEST(ReleaseBase64, DecodesPaddingWhitespaceAndRejectsTheRest) {
  const struct {
    const char* text;
    bool ok;
    std::string bytes;
  } cases[] = {
      {"", true, ""},
      {"QQ==", true, "A"},
      {"QUI=", true, "AB"},
      {"QUJD", true, "ABC"},
      {"QUJD\r\nRA = =", true, "ABCD"},
      {"QQ", true, "A"},
      {"+/+/", true, "\xFB\xFF\xBF"},
      {"QQ=A", false, ""},
      {"QQ===", false, ""},
      {"Q", false, ""},
      {"QUJDR", false, ""},
      {"QU-D", false, ""},
      {"QU_D", false, ""},
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(gm_release::b64_decode(c.text, out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, c.bytes) << c.text;
    }
  }
}

TEST(ReleaseVersion, ParsesThreeNumbersAndOrdersPreReleasesFirst) {
  const struct {
    const char* text;
    int major, minor, patch;
    bool pre;
  } parsed[] = {
      {"3.2.0", 3, 2, 0, false},
      {"3.2.0.7", 3, 2, 0, false},
      {"3.2.0-rc1", 3, 2, 0, true},
      {" 3.+2.10x", 3, 2, 10, false},
      {"3.2", -1, 0, 0, false},
      {"3.2.", -1, 0, 0, false},
      {"v3.2.0", -1, 0, 0, false},
      {"", -1, 0, 0, false},
      {"4294967296.0.0", -1, 0, 0, false},
  };
  for (const auto& c : parsed) {
    const auto v = gm_release::parse_ver(c.text);
    EXPECT_EQ(v.major, c.major) << c.text;
    EXPECT_EQ(v.minor, c.minor) << c.text;
    EXPECT_EQ(v.patch, c.patch) << c.text;
    EXPECT_EQ(v.pre, c.pre) << c.text;
  }
  const char* rising[] = {"junk", "0.0.0", "3.2.0-rc1", "3.2.0", "3.2.1", "3.10.0", "10.0.0"};
  for (size_t i = 0; i + 1 < std::size(rising); ++i) {
    EXPECT_LT(gm_release::parse_ver(rising[i]), gm_release::parse_ver(rising[i + 1])) << rising[i];
  }
  EXPECT_EQ(gm_release::parse_ver("3.2.0-a"), gm_release::parse_ver("3.2.0-b"));
  EXPECT_EQ(gm_release::parse_ver("3.2.0"), gm_release::parse_ver("3.2.0.9"));
}

}  // namespace
