// Building a release folder: files copied and signed, and the signed manifest.
#include "release_folder.h"

#include <openssl/evp.h>

#include <filesystem>
#include <set>

#include "app_zip.h"
#include "json_writer.h"
#include "release.h"
#include "sign_file.h"
#include "updater_net.h"

namespace gm_tools {
namespace {

namespace fs = std::filesystem;
using Kind = ReleaseFile::Kind;
using gm_release::kMac;

constexpr const char* kAppModules = "Contents/Library/Payload/modules";

std::string file_name(const ReleaseFile& f) {
  switch (f.kind) {
    case Kind::kModule:
      return f.console + "-" + f.version + kMac.module_ext;
    case Kind::kLoader:
      return kMac.loader_file;
    case Kind::kApp:
      return kMac.app_file;
  }
  return "";
}

std::string b64(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  out.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
  return out;
}

// Every console module in an app folder's payload must carry a signature by the release key:
// the loader that app installs would refuse the module otherwise, after the release had shipped.
bool app_modules_signed(const std::string& app_dir, const gm_loader::Ed25519Key& key,
                        std::string& err) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(app_dir + "/" + kAppModules, ec)) {
    const fs::path& path = entry.path();
    if (path.extension() != kMac.module_ext) continue;
    std::string bytes;
    if (!gm_loader::read_file(path, bytes) ||
        gm_loader::check_signature(bytes, path, key) != gm_loader::SigCheck::kOk) {
      err = "The app's module " + path.filename().string() +
            " has no signature by this key; sign it with gm-sign and this key first.";
      return false;
    }
  }
  return true;
}

bool read_source(const ReleaseFile& f, const gm_loader::Ed25519Key& key, std::string& bytes,
                 std::string& err) {
  std::error_code ec;
  if (f.kind == Kind::kApp && fs::is_directory(f.source, ec)) {
    return app_modules_signed(f.source, key, err) &&
           zip_app(f.source, gm_release::kMaxFileBytes, bytes, err);
  }
  if (!gm_loader::read_file(f.source, bytes, gm_release::kMaxFileBytes)) {
    err = "Cannot read " + f.source + " (missing, or above 64 MiB).";
    return false;
  }
  return true;
}

// Copies and signs one file into <out>/files and writes its item object.
bool add_item(const ReleaseFile& f, const ReleasePlan& plan, const gm_loader::Ed25519Key& key,
              gm::Json& json, std::string& err) {
  std::string bytes;
  if (!read_source(f, key, bytes, err)) return false;
  if (bytes.empty()) {
    err = f.source + " is empty.";
    return false;
  }
  const std::string name = file_name(f);
  const std::string dest = plan.out_dir + "/files/" + name;
  std::string sig, sha;
  if (!write_whole(dest, bytes) || (sig = sign_beside(key, bytes, dest)).empty() ||
      !gm::sha256_hex(gm::Bytes(bytes.begin(), bytes.end()), sha)) {
    err = "Cannot write or sign " + dest + ".";
    return false;
  }
  json.kv("file", name);
  json.kv("version", f.version);
  if (f.kind == Kind::kModule) json.kv("console", f.console);
  json.kv("url", plan.base_url + "/" + name);
  json.kv("sha256", sha);
  json.kn("size", static_cast<int64_t>(bytes.size()));
  if (f.kind == Kind::kModule && f.abi >= 0) json.kn("abi", f.abi);
  json.kv("sig", b64(sig));
  return true;
}

// The signed body: product, platform, version, then the modules, the loader and the app.
bool write_body(const ReleasePlan& plan, const gm_loader::Ed25519Key& key, gm::Json& json,
                std::string& err) {
  json.open_object();
  json.kv("product", "gainmesh");
  json.kv("platform", kMac.name);
  json.kv("version", plan.version);
  json.open_array("modules");
  for (const ReleaseFile& f : plan.files) {
    if (f.kind != Kind::kModule) continue;
    json.open_object();
    if (!add_item(f, plan, key, json, err)) return false;
    json.close_object();
  }
  json.close_array();
  for (Kind kind : {Kind::kLoader, Kind::kApp}) {
    for (const ReleaseFile& f : plan.files) {
      if (f.kind != kind) continue;
      json.open_object(kind == Kind::kLoader ? "loader" : "app");
      if (!add_item(f, plan, key, json, err)) return false;
      json.close_object();
    }
  }
  json.close_object();
  return true;
}

}  // namespace

bool check_plan(const ReleasePlan& plan, std::string& err) {
  if (gm_release::parse_ver(plan.version).major < 0) {
    err = "The release version " + plan.version + " is not three numbers joined by dots.";
    return false;
  }
  if (plan.base_url.rfind("https://", 0) != 0 || plan.base_url.size() <= 8 ||
      plan.base_url.back() == '/') {
    err = "The base URL must begin with https:// and not end with a slash.";
    return false;
  }
  std::set<std::string> names;
  for (const ReleaseFile& f : plan.files) {
    const std::string name = file_name(f);
    if (f.kind == Kind::kModule
            ? !gm_release::module_name_ok(f.console, f.version, name, kMac.module_ext)
            : gm_release::parse_ver(f.version).major < 0) {
      err = "The file " + name + " breaks the naming rule (console key of a-z and 0-9 starting " +
            "with a letter, version of three numbers).";
      return false;
    }
    if (!names.insert(name).second) {
      err = "The release names " + name + " twice.";
      return false;
    }
  }
  return true;
}

bool build_release(const ReleasePlan& plan, const gm_loader::Ed25519Key& key, std::string& err) {
  std::error_code ec;
  fs::create_directories(plan.out_dir + "/files", ec);
  if (ec) {
    err = "Cannot create the folder " + plan.out_dir + "/files.";
    return false;
  }
  gm::Json body;
  if (!write_body(plan, key, body, err)) return false;
  const std::string sig = key.sign(body.text());
  gm::Json reply;
  reply.open_object();
  reply.open_object("manifest");
  reply.kv("format", "gainmesh-release/1");
  reply.open_object("platforms");
  reply.open_object(kMac.name);
  reply.kv("body", b64(body.text()));
  reply.kv("sig", b64(sig));
  for (int i = 0; i < 4; ++i) reply.close_object();
  if (sig.size() != gm_loader::kSigBytes ||
      !write_whole(plan.out_dir + "/manifest.json", reply.text() + "\n")) {
    err = "Cannot sign or write " + plan.out_dir + "/manifest.json.";
    return false;
  }
  return true;
}

}  // namespace gm_tools
