// gm-release: builds a release folder for the update server from the files of a build.
//
//   gm-release --key <private.pem> --version <release version> --base-url <https URL> --out <dir>
//              [--module <console> <version> <file> [--abi <n>]]...
//              [--loader <version> <file>] [--app <version> <Gainmesh.app folder or zip file>]
//
// Writes <dir>/manifest.json (the reply to GET /v1/updates?product=gainmesh&platform=macos) and
// each file under <dir>/files/ with its ".sig"; every item's url is <base-url>/<file>. A module
// is named "<console>-<version>.dylib", the loader "Gainmesh.dylib", the app archive
// "Gainmesh.app.zip" (an app folder is zipped with its entries under "Gainmesh.app/"). --abi
// states the loader interface the module before it needs. The console modules in an app folder's
// payload must already carry their signatures by the same key (gm-sign).
//
// Exit status: 0 built, 1 a file could not be read or written or an app's module is not signed
// by the key, 2 wrong usage or unusable key; failures print one sentence on stderr.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "release_folder.h"
#include "signature.h"

namespace {

using gm_tools::ReleaseFile;

constexpr const char* kUsage =
    "usage: gm-release --key <private.pem> --version <version> --base-url <https URL> --out <dir>\n"
    "                  [--module <console> <version> <file> [--abi <n>]]...\n"
    "                  [--loader <version> <file>] [--app <version> <app folder or zip>]\n"
    "Builds a release folder: <dir>/manifest.json, the signed reply to\n"
    "GET /v1/updates?product=gainmesh&platform=macos, and every file with its .sig under\n"
    "<dir>/files/, served as <base URL>/<file>. Modules are named <console>-<version>.dylib, the\n"
    "loader Gainmesh.dylib and the app Gainmesh.app.zip (an app folder is zipped under\n"
    "Gainmesh.app/), whose console modules must already be signed with the same key (gm-sign).\n"
    "--abi gives the loader interface the module before it needs.\n"
    "Exit status: 0 built, 1 a file could not be read or written or an app's module is not\n"
    "signed with the key, 2 wrong usage or key.\n";

struct Args {
  std::string key_path;
  gm_tools::ReleasePlan plan;
  bool help = false;
};

// The field that an option with one value fills; null for any other argument.
std::string* single(const std::string& arg, Args& a) {
  if (arg == "--key") return &a.key_path;
  if (arg == "--version") return &a.plan.version;
  if (arg == "--base-url") return &a.plan.base_url;
  if (arg == "--out") return &a.plan.out_dir;
  return nullptr;
}

bool parse_abi(const char* text, int& abi) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v > 0x7fffffff) return false;
  abi = static_cast<int>(v);
  return true;
}

// One option at argv[i] with its values; i ends on the last value taken.
bool parse_option(int argc, char** argv, int& i, Args& a) {
  const std::string arg = argv[i];
  auto& files = a.plan.files;
  const int left = argc - 1 - i;
  if (arg == "--help" || arg == "-h") {
    a.help = true;
  } else if (std::string* field = single(arg, a)) {
    if (left < 1) return false;
    *field = argv[++i];
  } else if (arg == "--module") {
    if (left < 3) return false;
    files.push_back({ReleaseFile::Kind::kModule, argv[i + 1], argv[i + 2], argv[i + 3]});
    i += 3;
  } else if (arg == "--loader" || arg == "--app") {
    if (left < 2) return false;
    const auto kind = arg == "--app" ? ReleaseFile::Kind::kApp : ReleaseFile::Kind::kLoader;
    files.push_back({kind, "", argv[i + 1], argv[i + 2]});
    i += 2;
  } else if (arg == "--abi") {
    if (left < 1 || files.empty() || files.back().kind != ReleaseFile::Kind::kModule ||
        !parse_abi(argv[i + 1], files.back().abi)) {
      return false;
    }
    ++i;
  } else {
    return false;
  }
  return true;
}

bool parse(int argc, char** argv, Args& a, std::string& err) {
  for (int i = 1; i < argc; ++i) {
    if (!parse_option(argc, argv, i, a)) {
      err = std::string("The option ") + argv[i] + " is unknown, misplaced or lacks its values.";
      return false;
    }
  }
  const auto& s = a.plan;
  if (!a.help &&
      (a.key_path.empty() || s.version.empty() || s.base_url.empty() || s.out_dir.empty())) {
    err = "The options --key, --version, --base-url and --out are required.";
    return false;
  }
  return true;
}

int fail(const std::string& sentence, int status) {
  std::fprintf(stderr, "gm-release: %s\n", sentence.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  std::string err;
  if (!parse(argc, argv, args, err)) return fail(err, 2);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!gm_tools::check_plan(args.plan, err)) return fail(err, 2);
  std::string pem;
  gm_loader::Ed25519Key key;
  if (!gm_loader::read_file(args.key_path, pem, 1 << 16) || !key.load_private_pem(pem)) {
    return fail(args.key_path + " is not an Ed25519 private key in PEM form.", 2);
  }
  if (!gm_tools::build_release(args.plan, key, err)) return fail(err, 1);
  return 0;
}
