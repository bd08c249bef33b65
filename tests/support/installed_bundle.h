// An installed Gainmesh in a TempHome, laid out as the app's installer leaves it in LV1's IO
// Modules folder: Gainmesh.bundle with the loader, the wing module and its signature from the
// build, state.cfg and wing.cfg; beside it the Waves card bundles a test asks for. Also the
// files a test changes or reads while LV1 runs: further module versions, the modules-changed
// notification, the loader's status block and gainmesh.log.
#pragma once

#include <string>
#include <vector>

#include "drive/card_bundles.h"
#include "loader_layout.h"
#include "support/temp_home.h"

namespace gmtest {

// The loader and the wing module as the build leaves them in the app's payload.
inline constexpr const char* kPayloadLoader =
    GM_BUILD_DIR "/Gainmesh.app/Contents/Library/Payload/Gainmesh";
inline constexpr const char* kPayloadModule =
    GM_BUILD_DIR "/Gainmesh.app/Contents/Library/Payload/modules/wing-3.2.0.dylib";

inline constexpr const char* kWingCard = rig::kWingCardBundle;
inline constexpr const char* kX32Card = rig::kXwsgCardBundle;
inline constexpr const char* kDn32Card = rig::kDn32CardBundle;

class InstalledBundle {
 public:
  struct Options {
    std::string loader = kPayloadLoader;  // copied as Contents/MacOS/Gainmesh
    bool with_module = true;              // modules/wing-3.2.0.dylib and its .sig
    // The desk's address for wing.cfg (ip=). Must be in 127.0.0.0/8, so that the module asks
    // only there and never searches the network.
    std::string wing_ip{};
    // For a module that runs inside a NetnsLab (lv1host started in its scanner namespace): then
    // wing_ip may be empty (no ip=, the module searches by broadcast) or an address on the lab's
    // subnet.
    bool in_network_namespace = false;
    std::string wing_cfg_more{};  // further lines of wing.cfg, after the ip= line
    std::string state_cfg = "wing=on\nx32=on\n";
    std::vector<std::string> cards = {kWingCard};  // Waves card bundles beside ours
  };

  enum class Signature { kGood, kWrong };

  // Lays everything out; throws when a file cannot be copied or wing_ip is not an address the
  // module may use (loopback, or with in_network_namespace empty or on the lab's subnet).
  InstalledBundle(const TempHome& home, Options options);

  std::string bundle() const { return home_.io_modules_dir() + "/Gainmesh.bundle"; }
  std::string macos_dir() const { return bundle() + "/Contents/MacOS"; }
  std::string modules_dir() const { return macos_dir() + "/modules"; }

  // Puts a copy of the installed wing-3.2.0.dylib (else of the built module) into modules/ as
  // wing-<version>.dylib. The signature file is written first and the module renamed into place
  // last, so the loader never sees a module whose signature is still to come. kWrong writes a
  // signature that does not verify. Returns the module's path.
  std::string add_module(const std::string& version, Signature signature) const;
  // Replaces state.cfg whole.
  void write_state(const std::string& text) const;
  // Posts "org.ambervale.gainmesh.modules-changed": rewrites the file of that name in the run
  // folder with a counter one higher than before.
  void notify() const;

  std::string wing_cfg_path() const { return macos_dir() + "/wing.cfg"; }
  GmLoaderStatus loader_status() const;  // read_loader_block of the run folder's loader block
  // gainmesh.log, or empty.
  std::string log_text() const { return read_file(home_.logs_dir() + "/gainmesh.log"); }
  bool log_has(const std::string& needle) const {
    return log_text().find(needle) != std::string::npos;
  }

 private:
  const TempHome& home_;
  Options options_;
};

// Signs file with the build's gm-sign and the test key, writing sig_path.
void sign_file(const std::string& file, const std::string& sig_path);

// The loader's status block at path as the app reads it (at most 304 bytes, the rest zero); all
// zero when the file is missing.
GmLoaderStatus read_loader_block(const std::string& path);
// A console entry of that block on one line, every field in order, texts cut at their size.
std::string console_summary(const GmLoaderConsole& c);

}  // namespace gmtest
