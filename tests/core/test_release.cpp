// Release manifests as the update server sends them, signed with the repository's TEST-ONLY key
// (which the test build takes as its release key), and files checked against their ".sig".
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "loader/loader_test_util.h"
#include "release.h"

namespace {

using gm_release::Item;
using gm_release::kMac;
using gm_release::Release;
using loadertest::test_private_key;

std::string b64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  out.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                             reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<int>(bytes.size())));
  return out;
}

// An item object; each field as JSON text, empty = left out.
struct It {
  std::string file = "\"wing-3.2.0.dylib\"", version = "\"3.2.0\"", console = "\"wing\"";
  std::string url = "\"https://updates.test/wing-3.2.0.dylib\"";
  std::string sha256 = "\"" + std::string(64, 'a') + "\"", size = "1024", abi = "";
  std::string sig = "\"" + b64(std::string(64, 's')) + "\"";

  std::string json() const {
    std::string j;
    const std::pair<const char*, const std::string*> fields[] = {
        {"file", &file},     {"version", &version}, {"console", &console}, {"url", &url},
        {"sha256", &sha256}, {"size", &size},       {"abi", &abi},         {"sig", &sig}};
    for (const auto& [key, value] : fields) {
      if (!value->empty()) j += (j.empty() ? "" : ",") + std::string("\"") + key + "\":" + *value;
    }
    return "{" + j + "}";
  }
};

std::string reply(const std::string& body, const std::string& sig, const char* format = "/1",
                  const char* platform = "macos") {
  return std::string(R"({"manifest":{"format":"gainmesh-release)") + format +
         R"(","platforms":{")" + platform + R"(":{"body":")" + b64(body) + R"(","sig":")" +
         b64(sig) + "\"}}}}";
}
std::string signed_reply(const std::string& body) {
  return reply(body, test_private_key().sign(body));
}

TEST(ReleaseItem, AcceptsOnlyCompleteItemsAndModulesNamedAfterConsoleAndVersion) {
  const struct {
    const char* what;
    It it;
    bool item_ok, module_ok;
  } cases[] = {
      {"a module", It{}, true, true},
      {"pre-release", It{.file = "\"wing-3.2.0-rc1.dylib\"", .version = "\"3.2.0-rc1\""}, true,
       true},
      {"console Wing", It{.console = "\"Wing\""}, true, false},
      {"console from a digit", It{.file = "\"9w-3.2.0.dylib\"", .console = "\"9w\""}, true, false},
      {"17-letter console",
       It{.file = "\"abcdefghijklmnopq-3.2.0.dylib\"", .console = "\"abcdefghijklmnopq\""}, true,
       false},
      {"file with _", It{.file = "\"wing_3.2.0.dylib\""}, true, false},
      {"plain http", It{.url = "\"http://updates.test/wing-3.2.0.dylib\""}, false, false},
      {"size 0", It{.size = "0"}, false, false},
      {"negative size", It{.size = "-1024"}, false, false},
      {"size as text", It{.size = "\"1024\""}, false, false},
      {"size at the cap", It{.size = "67108864.9"}, true, true},
      {"size above the cap", It{.size = "67108865"}, false, false},
      {"size beyond any integer", It{.size = "1e300"}, false, false},
      {"63-character sha256", It{.sha256 = "\"" + std::string(63, 'a') + "\""}, false, false},
      {"version 3.2", It{.file = "\"wing-3.2.dylib\"", .version = "\"3.2\""}, false, false},
      {"slash in file", It{.file = "\"../wing-3.2.0.dylib\""}, false, false},
      {"no file", It{.file = ""}, false, false},
      {"63-byte sig", It{.sig = "\"" + b64(std::string(63, 's')) + "\""}, false, false},
      {"sig not Base64", It{.sig = "\"!\""}, false, false},
  };
  for (const auto& c : cases) {
    gm_release::J j;
    ASSERT_TRUE(gm_release::parse_json(c.it.json(), j)) << c.what;
    Item item;
    EXPECT_EQ(gm_release::item_of(j, item), c.item_ok) << c.what;
    EXPECT_EQ(c.item_ok && gm_release::module_name_ok(item.console, item.version, item.file,
                                                      kMac.module_ext),
              c.module_ok)
        << c.what;
  }
  EXPECT_FALSE(gm_release::module_name_ok("wing", "+3.2.0", "wing-+3.2.0.dylib", ".dylib"));
  EXPECT_FALSE(gm_release::module_name_ok("wing", "3.2.0", "wing-3.2.0.so", ".dylib"));
  const struct {
    std::string abi;
    int32_t expected;
  } abis[] = {{"", -1}, {"3", 3}, {"3.7", 3}, {"-2", -1}, {"\"3\"", -1}, {"1e12", INT32_MAX}};
  for (const auto& a : abis) {
    gm_release::J j;
    ASSERT_TRUE(gm_release::parse_json(It{.abi = a.abi}.json(), j));
    Item item;
    EXPECT_TRUE(gm_release::item_of(j, item));
    EXPECT_EQ(item.abi, a.expected) << a.abi;
  }
}

TEST(ReleaseManifest, EachRefusalNamesItsReason) {
  const std::string body = R"({"product":"gainmesh","platform":"macos","version":"3.3.0"})";
  std::string changed = body;
  changed[changed.size() - 3] ^= 1;
  const std::string sig = test_private_key().sign(body);
  const struct {
    std::string reply;
    const char* err;
  } cases[] = {
      {signed_reply(body) + " {}", "reply is not JSON"},
      {"", "reply is not JSON"},
      {"{\"manifest\":{}}", "no release in the current format"},
      {reply(body, sig, "/2"), "no release in the current format"},
      {reply(body, sig, "/1", "windows"), "no release for this platform"},
      {reply(body, sig.substr(0, 63)), "malformed release entry"},
      {R"({"manifest":{"format":"gainmesh-release/1","platforms":{"macos":{"body":"#"}}}})",
       "malformed release entry"},
      {reply(changed, sig), "release manifest is NOT signed by Gainmesh - ignored"},
      {reply(body, loadertest::sign_with_a_new_key(body)),
       "release manifest is NOT signed by Gainmesh - ignored"},
      {signed_reply(body + "]"), "signed manifest is not JSON"},
      {signed_reply(R"({"product":"other","platform":"macos"})"),
       "manifest is for another product or platform"},
      {signed_reply(R"({"product":"gainmesh","platform":"windows"})"),
       "manifest is for another product or platform"},
  };
  for (const auto& c : cases) {
    Release out;
    std::string err;
    EXPECT_FALSE(gm_release::load_release(c.reply, kMac, out, err)) << c.err;
    EXPECT_EQ(err, c.err);
  }
}

TEST(ReleaseManifest, KeepsTheValidItemsOfASignedRelease) {
  It zip{.file = "\"Gainmesh.app.zip\"", .version = "\"3.3.0\""};
  It loader{.file = "\"Loader.dylib\"", .version = "\"1.0.0\""};
  const std::string body = R"({"product":"gainmesh","platform":"macos","version":"3.3.0",)"
                           R"("modules":[)" +
                           It{}.json() + "," + It{.console = "\"Wing\""}.json() + "," +
                           It{.size = "0"}.json() + "," + It{.abi = "2"}.json() + R"(],"loader":)" +
                           loader.json() + R"(,"app":)" + zip.json() + "}";
  Release out;
  std::string err;
  ASSERT_TRUE(gm_release::load_release(signed_reply(body) + "\n", kMac, out, err)) << err;
  EXPECT_EQ(out.version, "3.3.0");
  ASSERT_EQ(out.modules.size(), 2u);
  EXPECT_EQ(out.modules[0].file, "wing-3.2.0.dylib");
  EXPECT_EQ(out.modules[0].sig, std::string(64, 's'));
  EXPECT_EQ(out.modules[1].abi, 2);
  EXPECT_EQ(out.loader.file, "") << "a loader under another name is no loader";
  EXPECT_EQ(out.loader.abi, -1);
  EXPECT_EQ(out.app.file, "Gainmesh.app.zip");
  EXPECT_EQ(out.app.size, 1024u);
}

TEST(ReleaseFile, PairVerifiesOnlyTheSignedBytesWithA64ByteSignature) {
  gmtest::TempHome home;
  const std::string bytes = "module bytes";
  const std::string sig = test_private_key().sign(bytes);
  std::string flipped = bytes;
  flipped[3] ^= 0x10;
  const struct {
    const char* what;
    std::string file, sig;
    bool ok;
  } cases[] = {
      {"signed", bytes, sig, true},
      {"file changed by one bit", flipped, sig, false},
      {"65-byte signature", bytes, sig + "x", false},
      {"signature of the empty file", "", test_private_key().sign(""), true},
  };
  for (const auto& c : cases) {
    const std::string path = home.write("f", c.file);
    home.write("f.sig", c.sig);
    EXPECT_EQ(gm::pair_ok(path), c.ok) << c.what;
  }
  EXPECT_FALSE(gm::pair_ok(home.write("unsigned", bytes))) << "no .sig";
  EXPECT_FALSE(gm::pair_ok(home.path() + "/missing"));
}

}  // namespace
