// The console module files the updater keeps in a folder: which signed versions of a console are
// there (signed with the build's gm-sign and the TEST-ONLY key), and pruning down to the two
// newest without ever deleting the version a running LV1's loader reports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "loader_layout.h"
#include "lv1.h"
#include "status.h"
#include "support/eventually.h"
#include "support/installed_bundle.h"
#include "support/temp_home.h"
#include "updater.h"

namespace {

enum class Sig { kGood, kNone, kWrong };

class UpdaterFiles : public gmtest::TempHomeTest {
 protected:
  // Writes dir/name with bytes of its own and, unless kNone, its signature.
  void add(const std::string& name, Sig sig = Sig::kGood) {
    const std::string path = home_.write("mods/" + name, "module " + name);
    if (sig == Sig::kNone) return;
    gmtest::sign_file(path, path + ".sig");
    if (sig == Sig::kWrong) {
      std::string bytes = gmtest::read_file(path + ".sig");
      bytes[10] ^= 1;
      home_.write("mods/" + name + ".sig", bytes);
    }
  }
  std::vector<std::string> names(const std::string& console) const {
    std::vector<std::string> out;
    for (const auto& [ver, path] : gm::signed_modules(dir_, console)) {
      out.push_back(path.substr(dir_.size() + 1));
    }
    return out;
  }
  bool has(const std::string& name) const { return gmtest::file_exists(dir_ + "/" + name); }
  std::string log() const { return gmtest::read_file(home_.logs_dir() + "/gainmesh-app.log"); }

  const std::string dir_ = home_.path() + "/mods";
};

// A process named as LV1 that holds the loader's status block open, as a running LV1 does.
class HeldLoaderBlock {
 public:
  explicit HeldLoaderBlock(const std::string& path) : pid_(fork()) {
    if (pid_ == 0) {
      prctl(PR_SET_NAME, gm::kLv1ProcessName);
      if (open(path.c_str(), O_RDONLY) < 0) _exit(1);
      pause();
      _exit(0);
    }
  }
  ~HeldLoaderBlock() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  // The block reads as live, and this is the LV1 the app sees.
  bool seen() const {
    return gmtest::eventually([&] {
      return gm::lv1_pid() == static_cast<uint32_t>(pid_) && gm::live_blocks(gm::lv1_info()).loader;
    });
  }

 private:
  pid_t pid_;
};

TEST_F(UpdaterFiles, OnlyModulesWhoseSignatureVerifiesCountNewestFirst) {
  add("wing-3.2.0.dylib");
  add("wing-3.10.0.dylib");
  add("wing-3.3.0-rc1.dylib");
  add("wing-3.3.0.dylib", Sig::kNone);
  add("wing-3.4.0.dylib", Sig::kWrong);
  add("wing-3.5.dylib");     // no third number
  add("wing-3.6.0.so");      // another extension
  add("wingx-3.7.0.dylib");  // another console's prefix
  add("x32-3.8.0.dylib");
  EXPECT_EQ(names("wing"), (std::vector<std::string>{"wing-3.10.0.dylib", "wing-3.3.0-rc1.dylib",
                                                     "wing-3.2.0.dylib"}));
  EXPECT_EQ(names("x32"), std::vector<std::string>{"x32-3.8.0.dylib"});
  EXPECT_TRUE(gm::signed_modules(home_.path() + "/missing", "wing").empty());
}

TEST_F(UpdaterFiles, PruningKeepsTheTwoNewestAndTheVersionTheLoaderRuns) {
  for (const char* v : {"3.2.0", "3.3.0", "3.4.0", "3.5.0"})
    add(std::string("wing-") + v + ".dylib");
  add("wing-3.1.0.dylib", Sig::kWrong);
  add("x32-3.0.0.dylib");
  gm::prune_modules(dir_, "wing");
  EXPECT_EQ(names("wing"), (std::vector<std::string>{"wing-3.5.0.dylib", "wing-3.4.0.dylib"}));
  EXPECT_FALSE(has("wing-3.2.0.dylib.sig") || has("wing-3.3.0.dylib.sig"));
  EXPECT_TRUE(has("wing-3.1.0.dylib") && has("x32-3.0.0.dylib")) << "not counted, never deleted";
  EXPECT_NE(log().find("  update: removed old module wing-3.2.0.dylib\n"), std::string::npos);
  EXPECT_NE(log().find("  update: removed old module wing-3.3.0.dylib\n"), std::string::npos);

  // LV1 runs 3.2.0: pruning leaves it however old it is.
  add("wing-3.2.0.dylib");
  add("wing-3.3.0.dylib");
  GmLoaderStatus block{};
  block.magic = GM_LOADER_MAGIC;
  block.size = sizeof block;
  std::strcpy(block.consoles[0].key, "wing");
  std::strcpy(block.consoles[0].running_version, "3.2.0");
  const std::string path =
      home_.write("Library/Application Support/Gainmesh/run/" GM_LOADER_FILE,
                  std::string(reinterpret_cast<const char*>(&block), sizeof block));
  HeldLoaderBlock lv1(path);
  if (!lv1.seen()) GTEST_SKIP() << "another eMotion LV1 runs on this machine";
  gm::prune_modules(dir_, "wing");
  EXPECT_EQ(names("wing"),
            (std::vector<std::string>{"wing-3.5.0.dylib", "wing-3.4.0.dylib", "wing-3.2.0.dylib"}));
}

}  // namespace
