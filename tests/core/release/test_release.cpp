// Release manifests as the update server sends them, signed with the repository's TEST-ONLY key
// (which the test build takes as its release key): the reader's byte-exact rules, the item
// checks and each refusal.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "loader/loader_test_util.h"
#include "release.h"

namespace {

using namespace gm_release;
using Fields = std::map<std::string, std::string>;
using loadertest::b64;
using loadertest::release_reply;

// A valid module item with some fields replaced (as JSON text; "" leaves the field out).
std::string item(Fields with = {}) {
  with.merge(Fields{{"file", "\"wing-3.2.0.dylib\""},
                    {"version", "\"3.2.0\""},
                    {"console", "\"wing\""},
                    {"url", "\"https://u.test/f\""},
                    {"sha256", '"' + std::string(64, 'a') + '"'},
                    {"size", "1024"},
                    {"sig", '"' + b64(std::string(64, 's')) + '"'}});
  std::string j;
  for (const auto& [k, v] : with) j += v.empty() ? "" : (j.empty() ? "\"" : ",\"") + k + "\":" + v;
  return "{" + j + "}";
}

TEST(ReleaseText, JsonBase64AndVersionsFollowTheirExactRules) {
  const std::string deep = std::string(32, '[') + std::string(32, ']');
  J j;
  EXPECT_TRUE(parse_json(deep, j) && parse_json("{\"a\": [1, -2.5e3, true, null]}\n", j));
  const std::string bad[] = {"[" + deep + "]", "[1,]",        "{\"a\":1,}", "True",  "1.2.3",
                             "\"\\x\"",        "\"\\u12g4\"", "\"open",     "{1:2}", "{} {}"};
  for (const auto& doc : bad) EXPECT_FALSE(parse_json(doc, j)) << doc;
  ASSERT_TRUE(parse_json("{\"s\":\"\\u00e9\\ud83d\\/\x01\",\"s\":2}", j));
  EXPECT_EQ(j.str("s"), "\xC3\xA9\xED\xA0\xBD/\x01") << "the first of duplicate keys";

  std::string out;
  const char* decoded[][2] = {{"", ""}, {"QQ==", "A"}, {"QQ", "A"}, {"QUJD\r\nRA = =", "ABCD"}};
  for (const auto& c : decoded) EXPECT_TRUE(b64_decode(c[0], out) && out == c[1]) << c[0];
  for (const char* bad : {"QQ=A", "QQ===", "Q", "QUJDR", "QU-"}) EXPECT_FALSE(b64_decode(bad, out));

  for (const char* bad : {"3.2", "v3.2.0", "4294967296.0.0"}) EXPECT_EQ(parse_ver(bad).major, -1);
  const char* rising[] = {"3.2", "0.0.0", "3.2.0-rc1", " +3.2.0", "3.2.1", "3.10.0"};
  for (size_t i = 0; i + 1 < std::size(rising); ++i) {
    EXPECT_LT(parse_ver(rising[i]), parse_ver(rising[i + 1])) << rising[i];
  }
  EXPECT_EQ(parse_ver("3.2.0-a"), parse_ver("3.2.0-b"));
}

TEST(ReleaseItem, AcceptsOnlyCompleteItemsAndModulesNamedAfterConsoleAndVersion) {
  // clang-format off
  const std::tuple<Fields, bool, bool> cases[] = {
      {{}, true, true},                            {{{"console", "\"Wing\""}}, true, false},
      {{{"file", "\"wing_3.2.0.dylib\""}}, true, false}, {{{"url", "\"http://u.test/f\""}}, false, false},
      {{{"file", "\"wing-3.2.0-rc1.dylib\""}, {"version", "\"3.2.0-rc1\""}}, true, true},
      {{{"size", "67108864.9"}, {"abi", "2.5"}}, true, true},
      {{{"size", "1e300"}}, false, false},         {{{"file", "\"../w-3.2.0.dylib\""}}, false, false},
      {{{"sig", "\"QQ==\""}}, false, false}};
  // clang-format on
  for (const auto& [with, item_ok, module_ok] : cases) {
    J j;
    Item it;
    ASSERT_TRUE(parse_json(item(with), j));
    EXPECT_EQ(item_of(j, it), item_ok) << item(with);
    EXPECT_EQ(item_ok && module_name_ok(it.console, it.version, it.file, ".dylib"), module_ok);
    EXPECT_EQ(it.abi, with.count("abi") ? 2 : -1);
  }
}

TEST(ReleaseManifest, RefusesWithItsReasonOrKeepsTheValidItems) {
  const auto versioned = [](const std::string& v) {
    return R"({"product":"gainmesh","platform":"macos","version":")" + v + "\"";
  };
  const std::string head = versioned("3.3.0");
  const std::string body = head + "}";
  std::string changed = release_reply(body);
  changed[changed.find("body") + 20] ^= 1;
  const std::pair<std::string, const char*> refused[] = {
      {release_reply(body) + " {}", "reply is not JSON"},
      {release_reply(body, "", "/2"), "no release in the current format"},
      {release_reply(body, "", "/1", "windows"), "no release for this platform"},
      {release_reply(body, std::string(63, 's')), "malformed release entry"},
      {changed, "release manifest is NOT signed by Gainmesh - ignored"},
      {release_reply(head), "signed manifest is not JSON"},
      {release_reply(R"({"product":"other","platform":"macos"})"),
       "manifest is for another product or platform"},
      {release_reply(versioned(std::string(65, '9')) + "}"),
       "release version is empty or longer than 64 bytes"},
      {release_reply(versioned("") + "}"), "release version is empty or longer than 64 bytes"}};
  Release out;
  std::string err;
  for (const auto& [text, reason] : refused) {
    EXPECT_FALSE(load_release(text, kMac, out, err) || err != reason) << reason << ": " << err;
  }
  const std::string items = R"(,"modules":[)" + item() + "," + item({{"console", "\"Wing\""}}) +
                            "," + item() + R"(],"loader":)" + item({{"file", "\"Loader.dylib\""}}) +
                            R"(,"app":)" + item({{"file", "\"Gainmesh.app.zip\""}});
  ASSERT_TRUE(load_release(release_reply(head + items + "}") + "\n", kMac, out, err)) << err;
  EXPECT_TRUE(out.version == "3.3.0" && out.modules.size() == 2);
  EXPECT_TRUE(out.loader.file.empty()) << "a loader under another name is no loader";
  EXPECT_EQ(out.app.file, "Gainmesh.app.zip");
  const std::string longest = "3.3.0-" + std::string(58, 'r');
  EXPECT_TRUE(load_release(release_reply(versioned(longest) + "}"), kMac, out, err)) << err;
  EXPECT_EQ(out.version, longest);
}

}  // namespace
