// Downloads from the rig's update server over real HTTPS: a release that gm-release built loads
// and every file of it passes its checks, and each way a reply, a file or the server itself can
// be wrong is refused with the app's own words.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "loader/loader_test_util.h"
#include "release.h"
#include "support/temp_home.h"
#include "support/update_server.h"
#include "updater_net.h"

namespace {

using gm_release::Item;
using gm_release::Release;

// "<version>: <file>/<abi> ..." for the modules, then the loader's and the app's files.
std::string listing(const Release& r) {
  std::string out = r.version + ":";
  for (const Item& m : r.modules) out += " " + m.file + "/" + std::to_string(m.abi);
  return out + " " + r.loader.file + " " + r.app.file;
}

class UpdateDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string b = home_.path() + "/build/";
    home_.write("build/wing.dylib", std::string(3000, 'w'));
    home_.write("build/x32.dylib", "x32 module");
    home_.write("build/Gainmesh.dylib", "loader");
    home_.write("build/Gainmesh.app/Contents/Info.plist", "plist");
    chmod(home_.write("build/Gainmesh.app/Contents/MacOS/Gainmesh", "app").c_str(), 0755);
    const std::vector<std::string> args = {
        "--version", "3.3.0", "--module",           "wing",  "3.3.0", b + "wing.dylib",
        "--abi",     "3",     "--module",           "x32",   "3.3.0", b + "x32.dylib",
        "--loader",  "3.3.0", b + "Gainmesh.dylib", "--app", "3.3.0", b + "Gainmesh.app"};
    std::string err;
    ASSERT_EQ(server_.release(args, &err), 0) << err;
    manifest_ = gmtest::read_file(server_.release_dir() + "/manifest.json");
    server_.point_app_here();
  }

  // The manifest as the app asks for it and loads it; err holds the HTTP status on a failed get.
  bool load(Release& r, std::string& err) {
    gm::Bytes reply;
    int http = 0;
    if (!gm::https_get(gm::update_manifest_url(), reply, 262144, http)) {
      err = "HTTP " + std::to_string(http);
      return false;
    }
    return load_release(std::string(reply.begin(), reply.end()), gm_release::kMac, r, err);
  }

  gmtest::TempHome home_;
  gmtest::UpdateServerProcess server_;
  std::string manifest_;
};

TEST_F(UpdateDownload, AReleaseFromTheToolLoadsAndEveryFileOfItPassesItsChecks) {
  Release r;
  std::string err;
  ASSERT_TRUE(load(r, err)) << err;
  ASSERT_EQ(listing(r),
            "3.3.0: wing-3.3.0.dylib/3 x32-3.3.0.dylib/-1 Gainmesh.dylib Gainmesh.app.zip");
  for (const Item& item : {r.modules[0], r.modules[1], r.loader, r.app}) {
    gm::Bytes bytes;
    EXPECT_TRUE(gm::fetch_item(item, bytes, err)) << item.file << ": " << err;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              gmtest::read_file(server_.release_dir() + "/files/" + item.file));
  }
  const std::vector<rig::UpdateRequest> asked = server_.requests();
  ASSERT_EQ(asked.size(), 5u);
  EXPECT_EQ(asked[0].path + "?" + asked[0].query, "/v1/updates?product=gainmesh&platform=macos");
  for (const auto& q : asked)
    EXPECT_EQ(q.method + " " + q.user_agent + " " + std::to_string(q.status),
              "GET Gainmesh/3.2.0 updater (macOS) 200");
  // The app folder's archive, unpacked and run, is CoreLiveStatus's (test_core_live_status).
}

TEST_F(UpdateDownload, RepliesOverTheCapOrNotOverVerifiedHttpsFail) {
  const std::string url = server_.manifest_url();
  const std::string cap = manifest_ + std::string(262144 - manifest_.size(), ' ');
  const std::string other_ca = server_.make_other_ca("other");
  const std::string plain = "http://" + server_.ip() + ":" + std::to_string(server_.port());
  // Each case makes its fault and names the URL to get; then "<got it> <HTTP status>".
  const std::pair<std::function<std::string()>, std::string> cases[] = {
      {[&] { return server_.serve_instead("/v1/updates", cap), url; }, "1 200"},
      {[&] { return server_.serve_instead("/v1/updates", cap + " "), url; }, "0 200"},
      {[&] { return server_.fail_with("/v1/updates", 404), url; }, "0 404"},
      {[&] { return server_.redirect("/v1/updates", plain + "/x"), url; }, "0 302"},
      {[&] {
         return server_.redirect("/v1/updates", server_.files_url() + "/x32-3.3.0.dylib"), url;
       },
       "1 200"},
      {[&] { return plain + "/v1/updates"; }, "0 0"},
      {[&] { return server_.point_app_here(other_ca), url; }, "0 0"},
  };
  for (const auto& [setup, want] : cases) {
    server_.clear_faults();
    const std::string target = setup();
    gm::Bytes out;
    int http = -1;
    const bool got = gm::https_get(target, out, 262144, http);
    EXPECT_EQ(std::to_string(got) + " " + std::to_string(http), want) << "case " << want;
  }
  // Six requests reached the server; the plain URL and the refused certificate none.
  EXPECT_EQ(server_.requests().size(), 6u) << server_.log_text();
}

TEST_F(UpdateDownload, FilesThatDoNotMatchTheirItemAreRefused) {
  Release r;
  std::string err;
  ASSERT_TRUE(load(r, err)) << err;
  const Item wing = r.modules[0];
  const std::string path = "/files/" + wing.file;
  const std::pair<std::function<void(Item&)>, std::string> cases[] = {
      {[&](Item&) { server_.serve_instead(path, std::string(3000, 'x')); }, "SHA-256 mismatch"},
      {[&](Item&) { server_.serve_instead(path, std::string(2999, 'w')); }, "wrong size"},
      {[](Item& i) { i.sig = loadertest::sign_with_a_new_key(std::string(3000, 'w')); },
       "signature does not verify"},
      {[&](Item&) { server_.fail_with(path, 404); }, "download failed (HTTP 404)"},
  };
  for (const auto& [change, want] : cases) {
    server_.clear_faults();
    Item item = wing;
    change(item);
    gm::Bytes bytes;
    EXPECT_EQ(gm::fetch_item(item, bytes, err) ? "accepted" : err, want);
  }
}

TEST_F(UpdateDownload, TheToolRefusesWhatTheAppWouldDropAndKeepsTheLastManifest) {
  const std::string wing = home_.path() + "/build/wing.dylib";
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--version", "3.4.0", "--module", "Wing", "3.4.0", wing}, 2},
      {{"--version", "3.4.0", "--module", "wing", "3.4.0", wing, "--loader", "3.4.0", "/none"}, 1},
  };
  for (const auto& [args, status] : cases) {
    std::string err;
    EXPECT_EQ(server_.release(args, &err), status) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_EQ(gmtest::read_file(server_.release_dir() + "/manifest.json"), manifest_);
}

// The loader an app installs loads only modules signed by the release key, so an app folder
// whose payload module is unsigned or signed by another key is never released.
TEST_F(UpdateDownload, TheToolReleasesAnAppOnlyWithModulesSignedByItsKey) {
  const std::string app = home_.path() + "/next/Gainmesh.app";
  const std::string module = "next/Gainmesh.app/Contents/Library/Payload/modules/wing-3.4.0.dylib";
  home_.write("next/Gainmesh.app/Contents/MacOS/Gainmesh", "app");
  home_.write(module, "module of 3.4.0");
  const std::pair<std::string, int> cases[] = {
      {"", 1},
      {loadertest::sign_with_a_new_key("module of 3.4.0"), 1},
      {loadertest::test_private_key().sign("module of 3.4.0"), 0},
  };
  for (const auto& [sig, status] : cases) {
    if (!sig.empty()) home_.write(module + ".sig", sig);
    std::string err;
    EXPECT_EQ(server_.release({"--version", "3.4.0", "--app", "3.4.0", app}, &err), status) << err;
    if (status != 0) {
      EXPECT_NE(err.find("wing-3.4.0.dylib"), std::string::npos) << err;
      EXPECT_EQ(gmtest::read_file(server_.release_dir() + "/manifest.json"), manifest_);
    }
  }
  Release r;
  std::string err;
  ASSERT_TRUE(load(r, err)) << err;
  EXPECT_EQ(r.version + " " + r.app.file, "3.4.0 Gainmesh.app.zip");
}

}  // namespace
