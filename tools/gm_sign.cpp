// gm-sign: signs release files with an Ed25519 private key, or checks their signatures.
//
//   gm-sign --key <private.pem> <file>...            writes <file>.sig (64 raw bytes) for each
//   gm-sign --verify --pub <public.pem> <file>...    checks each <file>.sig
//
// Exit status: 0 all done / all verified, 1 a file failed, 2 wrong usage or unusable key.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sign_file.h"
#include "signature.h"

namespace {

using gm_loader::Ed25519Key;

struct Args {
  bool verify = false;
  std::string key_path;
  std::vector<std::string> files;
};

int usage() {
  std::fputs(
      "usage: gm-sign --key <private.pem> <file>...\n"
      "       gm-sign --verify --pub <public.pem> <file>...\n",
      stderr);
  return 2;
}

bool parse(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verify") {
      a.verify = true;
    } else if ((arg == "--key" || arg == "--pub") && i + 1 < argc) {
      a.key_path = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      a.files.push_back(arg);
    }
  }
  return !a.key_path.empty() && !a.files.empty();
}

int sign_files(const Ed25519Key& key, const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& path : files) {
    std::string bytes;
    if (!gm_loader::read_file(path, bytes)) {
      std::fprintf(stderr, "gm-sign: cannot read %s (missing, or above 64 MiB)\n", path.c_str());
      status = 1;
      continue;
    }
    if (gm_tools::sign_beside(key, bytes, path).empty()) {
      std::fprintf(stderr, "gm-sign: cannot write %s.sig\n", path.c_str());
      status = 1;
    }
  }
  return status;
}

int verify_files(const Ed25519Key& key, const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& path : files) {
    std::string bytes;
    const bool read = gm_loader::read_file(path, bytes);
    const auto check =
        read ? gm_loader::check_signature(bytes, path, key) : gm_loader::SigCheck::kBadSignature;
    const char* verdict = !read                                        ? "cannot read the file"
                          : check == gm_loader::SigCheck::kOk          ? "OK"
                          : check == gm_loader::SigCheck::kNoSignature ? "no signature file"
                                                                       : "BAD signature";
    std::printf("%s: %s\n", path.c_str(), verdict);
    if (!read || check != gm_loader::SigCheck::kOk) status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!parse(argc, argv, args)) return usage();
  std::string pem;
  Ed25519Key key;
  const bool loaded = gm_loader::read_file(args.key_path, pem, 1 << 16) &&
                      (args.verify ? key.load_public_pem(pem) : key.load_private_pem(pem));
  if (!loaded) {
    std::fprintf(stderr, "gm-sign: %s is not an Ed25519 %s key in PEM form\n",
                 args.key_path.c_str(), args.verify ? "public" : "private");
    return 2;
  }
  return args.verify ? verify_files(key, args.files) : sign_files(key, args.files);
}
