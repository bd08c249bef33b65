// Choosing a module by signature: the newest file whose Ed25519 signature verifies with the
// release key runs; a refused file shows in the refusal counters once, not at every rescan.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "loader_layout.h"
#include "loader_test_util.h"
#include "module_pick.h"

namespace {

using namespace gm_loader;
using namespace loadertest;

TEST(Signature, VerifiesOnlyTheSignedBytesWithTheMatchingKey) {
  // (A good signature verifies: CheckOfAFile... below.)
  EXPECT_FALSE(Ed25519Key().verify("module bytes", test_private_key().sign("module bytes")));
  EXPECT_FALSE(Ed25519Key().load_public_pem("-----BEGIN PUBLIC KEY-----\nnot a key\n"));
  EXPECT_FALSE(
      Ed25519Key().load_public_pem(gmtest::read_file(GM_TEST_KEYS_DIR "/test-release.pem")))
      << "a private key is not accepted where the public one is expected";
}

// What the loader checks before it loads a module file: its bytes against "<file>.sig".
TEST(Signature, CheckOfAFileTellsAMissingSignatureFromABadOne) {
  gmtest::TempHome home;
  const std::string path = home.path() + "/wing-3.2.0.dylib";
  const std::string sig = test_private_key().sign("module bytes");
  const struct {
    const char* what;
    std::optional<std::string> sig_file;  // nullopt: no .sig
    const char* bytes;
    SigCheck expected;
  } cases[] = {
      {"signed", sig, "module bytes", SigCheck::kOk},
      {"no signature yet", std::nullopt, "module bytes", SigCheck::kNoSignature},
      {"file changed after signing", sig, "module bytez", SigCheck::kBadSignature},
      {"another key", sign_with_a_new_key("module bytes"), "module bytes", SigCheck::kBadSignature},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(path + ".sig");
    if (c.sig_file) write_bytes(path + ".sig", *c.sig_file);
    EXPECT_EQ(check_signature(c.bytes, path, test_public_key()), c.expected) << c.what;
  }
}

class ModuleChoice : public gmtest::TempHomeTest {
 protected:
  std::string dir() const { return home_.path() + "/modules"; }
  std::string add(const std::string& name, bool signed_ok = true) {
    const std::string path = dir() + "/" + name;
    write_bytes(path, "code of " + name);
    if (signed_ok) sign(path);
    return path;
  }
  // Picks like the loader: the attempt verifies the file's signature with the release key.
  std::optional<ModuleFile> pick(const ModuleFile* running = nullptr) {
    return pick_module(list_modules(dir(), "wing"), running, refusals_,
                       [this](const ModuleFile& f) -> uint32_t {
                         ++attempts_;
                         const SigCheck sig =
                             check_signature(gmtest::read_file(f.path), f.path, test_public_key());
                         return sig == SigCheck::kOk            ? 0
                                : sig == SigCheck::kNoSignature ? GM_LOAD_ERR_NO_SIGNATURE
                                                                : GM_LOAD_ERR_BAD_SIGNATURE;
                       });
  }
  Refusals refusals_;
  int attempts_ = 0;
};

// The order of the candidates is ModulesFolder's (test_loader_rules.cpp); here, which of them
// runs and how refusals are counted.
TEST_F(ModuleChoice, RunsTheNewestVerifiedVersionAndRefusesEachBadFileOnce) {
  add("wing-3.2.0.dylib");
  const std::string bad = add("wing-3.3.0.dylib");
  write_bytes(bad, "code of wing-3.3.0.dylib, changed after signing");

  auto chosen = pick();
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->name, "wing-3.2.0.dylib");
  EXPECT_EQ(attempts_, 2) << "the first file that verifies runs; older ones are not tried";
  EXPECT_EQ(refusals_.load_error(), 1u);
  EXPECT_EQ(refusals_.error_code(), GM_LOAD_ERR_BAD_SIGNATURE);
  EXPECT_EQ(refusals_.module_file(), "wing-3.3.0.dylib");

  // Rescans with nothing changed: the running module stays, the refusal is not repeated.
  const ModuleFile running = *chosen;
  attempts_ = 0;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pick(&running)->name, "wing-3.2.0.dylib");
  EXPECT_EQ(attempts_, 0);
  EXPECT_EQ(refusals_.load_error(), 1u);

  // A newer file without its signature yet: refused with another code, a new load_error.
  const std::string unsigned_path = add("wing-3.4.0.dylib", false);
  EXPECT_EQ(pick(&running)->name, "wing-3.2.0.dylib");
  EXPECT_EQ(refusals_.load_error(), 2u);
  EXPECT_EQ(refusals_.error_code(), GM_LOAD_ERR_NO_SIGNATURE);
  EXPECT_EQ(refusals_.module_file(), "wing-3.4.0.dylib");

  // Its signature arrives after the file (the file itself unchanged): it is tried again and runs.
  sign(unsigned_path);
  EXPECT_EQ(pick(&running)->name, "wing-3.4.0.dylib");
  EXPECT_EQ(refusals_.load_error(), 2u);
}

// gm-sign as a release step uses it: its exit status must never call a bad file good. The build
// signs the module with --pub naming the release key that the loader will trust: a key pair that
// does not match must stop the build rather than leave a signature the loader refuses.
TEST(SigningTool, SignsOnlyWithThePrivateHalfOfTheKeyNamedByPubAndExitStatusesTellFailures) {
  gmtest::TempHome home;
  const std::string file = home.write("wing-3.2.0.dylib", "module bytes");
  const std::string keys = GM_TEST_KEYS_DIR, pem = keys + "/test-release.pem",
                    pub = keys + "/test-release.pub";
  const auto run = [&](const std::string& args) {
    const int rc =
        std::system((std::string(GM_SIGN_TOOL) + args + " '" + file + "' >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  Ed25519Key other;
  const uint8_t other_raw[32] = {7, 7, 7};
  ASSERT_TRUE(other.load_public_raw(other_raw));
  const std::string other_pub = home.write("other.pub", other.public_pem());
  EXPECT_EQ(run(" --verify --pub '" + pub + "'"), 1) << "no signature yet";
  EXPECT_EQ(run(" --key '" + pem + "' --pub '" + other_pub + "'"), 2);
  EXPECT_FALSE(std::filesystem::exists(file + ".sig")) << "nothing signed with a mismatched pair";
  EXPECT_EQ(run(" --key '" + pem + "' --pub '" + pem + "'"), 2) << "--pub takes a public key";
  EXPECT_EQ(run(" --key '" + pem + "' --pub '" + pub + "'"), 0);
  EXPECT_TRUE(test_public_key().verify("module bytes", gmtest::read_file(file + ".sig")));
  std::filesystem::remove(file + ".sig");
  EXPECT_EQ(run(" --key '" + pem + "'"), 0);
  EXPECT_EQ(gmtest::read_file(file + ".sig").size(), 64u);
  EXPECT_TRUE(test_public_key().verify("module bytes", gmtest::read_file(file + ".sig")));
  EXPECT_EQ(run(" --verify --pub '" + pub + "'"), 0);
  write_bytes(file, "module bytez");
  EXPECT_EQ(run(" --verify --pub '" + pub + "'"), 1);
  EXPECT_EQ(run(" --key '" + pub + "'"), 2) << "a public key cannot sign";
  EXPECT_EQ(run(""), 2);
}

}  // namespace
