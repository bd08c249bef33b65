// Laying out an installed Gainmesh and the files around it.
#include "support/installed_bundle.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "drive/card_bundles.h"
#include "drive/child.h"
#include "support/netns.h"

namespace gmtest {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSigner = GM_BUILD_DIR "/tools/gm-sign";
constexpr const char* kTestKey = GM_SOURCE_DIR "/tests/keys/test-release.pem";
constexpr const char* kNotifyName = "org.ambervale.gainmesh.modules-changed";

std::string plist(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n";
  for (const auto& [key, value] : entries) {
    out += "\t<key>" + key + "</key>\n\t<string>" + value + "</string>\n";
  }
  return out + "</dict>\n</plist>\n";
}

void copy(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(fs::path(to).parent_path(), ec);
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) throw std::runtime_error("cannot copy " + from + " to " + to + ": " + ec.message());
}

// Writes a file whole under a temporary name, then renames it over path.
void replace_file(const std::string& path, const std::string& text) {
  make_dirs(fs::path(path).parent_path().string());
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + tmp);
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename " + tmp);
}

// Whether a module with this ip= stays off every real network: loopback always; inside a
// namespace lab also no ip= at all (a broadcast search) or an address on the lab's subnet.
bool safe_wing_ip(const InstalledBundle::Options& o) {
  if (o.wing_ip.rfind("127.", 0) == 0) return true;
  return o.in_network_namespace && (o.wing_ip.empty() || lab_address(o.wing_ip));
}

}  // namespace

void sign_file(const std::string& file, const std::string& sig_path) {
  const std::string sig = file + ".sig";
  rig::ChildSpec spec;
  spec.argv = {kSigner, "--key", kTestKey, file};
  // A sanitizer build of the signer must not fail on the crypto library's one-time allocations.
  spec.env = {"ASAN_OPTIONS=detect_leaks=0"};
  for (char** e = environ; *e; ++e) {
    if (strncmp(*e, "ASAN_OPTIONS=", 13) != 0) spec.env.emplace_back(*e);
  }
  pid_t pid = rig::spawn_child(spec);
  const int status = rig::wait_child(pid, 30000);
  rig::kill_child(pid);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(std::string("gm-sign failed on ") + file);
  }
  if (sig != sig_path && rename(sig.c_str(), sig_path.c_str()) != 0) {
    throw std::runtime_error("cannot rename " + sig);
  }
}

InstalledBundle::InstalledBundle(const TempHome& home, Options options)
    : home_(home), options_(std::move(options)) {
  if (options_.with_module && !safe_wing_ip(options_)) {
    throw std::runtime_error(
        std::string("the wing module needs an ip= in 127.0.0.0/8") +
        (options_.in_network_namespace ? ", on the lab's subnet or none" : "") + ", got '" +
        options_.wing_ip + "'");
  }
  replace_file(bundle() + "/Contents/Info.plist",
               plist({{"CFBundleExecutable", "Gainmesh"},
                      {"CFBundleIdentifier", "org.ambervale.gainmesh.loader"},
                      {"CFBundlePackageType", "wvPT"},
                      {"CFBundleVersion", "3.2.0"}}));
  copy(options_.loader, macos_dir() + "/Gainmesh");
  make_dirs(modules_dir());
  if (options_.with_module) {
    copy(kPayloadModule, modules_dir() + "/wing-3.2.0.dylib");
    copy(std::string(kPayloadModule) + ".sig", modules_dir() + "/wing-3.2.0.dylib.sig");
  }
  write_state(options_.state_cfg);
  replace_file(wing_cfg_path(), (options_.wing_ip.empty() ? "" : "ip=" + options_.wing_ip + "\n") +
                                    options_.wing_cfg_more);
  for (const std::string& card : options_.cards) {
    rig::lay_out_card_bundle(home_.io_modules_dir(), card);
  }
}

std::string InstalledBundle::add_module(const std::string& version, Signature signature) const {
  if (!safe_wing_ip(options_)) {
    throw std::runtime_error("a wing module needs an ip= in 127.0.0.0/8 in wing.cfg");
  }
  const std::string path = modules_dir() + "/wing-" + version + ".dylib";
  const std::string staged = modules_dir() + "/.staged-wing-" + version;
  // The copy installed at the start is the one whose signature came with it; the build's own
  // file may be relinked while a test runs.
  const std::string installed = modules_dir() + "/wing-3.2.0.dylib";
  copy(file_exists(installed) ? installed : std::string(kPayloadModule), staged);
  sign_file(staged, path + ".sig");
  if (signature == Signature::kWrong) {
    std::string sig = read_file(path + ".sig");
    if (sig.empty()) throw std::runtime_error("gm-sign wrote an empty signature");
    sig[sig.size() / 2] = static_cast<char>(sig[sig.size() / 2] ^ 0x5a);
    replace_file(path + ".sig", sig);
  }
  if (rename(staged.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot place " + path);
  return path;
}

void InstalledBundle::write_state(const std::string& text) const {
  replace_file(macos_dir() + "/state.cfg", text);
}

void InstalledBundle::notify() const {
  const std::string path = home_.run_dir() + "/" + kNotifyName;
  const std::string old = read_file(path);
  const long count = old.empty() ? 0 : std::strtol(old.c_str(), nullptr, 10);
  replace_file(path, std::to_string(count + 1) + "\n");
}

GmLoaderStatus InstalledBundle::loader_status() const {
  return read_loader_block(home_.run_dir() + "/" GM_LOADER_FILE);
}

GmLoaderStatus read_loader_block(const std::string& path) {
  GmLoaderStatus s;
  memset(&s, 0, sizeof s);
  const std::string bytes = read_file(path);
  memcpy(&s, bytes.data(), std::min(bytes.size(), sizeof s));
  if (s.size >= GM_LOADER_MIN_BYTES && s.size < sizeof s) {
    memset(reinterpret_cast<char*>(&s) + s.size, 0, sizeof s - s.size);
  }
  return s;
}

std::string console_summary(const GmLoaderConsole& c) {
  char s[256];
  snprintf(s, sizeof s, "%.8s on=%u present=%u slot=%u kind=%u run=%.24s err=%u/%u file=%.64s",
           c.key, c.enabled, c.module_present, c.in_slot, c.card_kind, c.running_version,
           c.load_error, c.error_code, c.module_file);
  return s;
}

}  // namespace gmtest
