// gm-sign: signs release files with an Ed25519 private key, or checks their signatures.
//
//   gm-sign --key <private.pem> [--pub <public.pem>] <file>...
//                                      writes <file>.sig (64 raw bytes) for each; with --pub only
//                                      when the private key is that public key's private half
//   gm-sign --verify --pub <public.pem> <file>...    checks each <file>.sig
//
// Exit status: 0 all done / all verified, 1 a file failed, 2 wrong usage, an unusable key or a
// private key that does not belong to the --pub key (nothing is written then).
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "sign_file.h"
#include "signature.h"

namespace {

using gm_loader::Ed25519Key;

struct Args {
  bool verify = false;
  std::string key_path;  // signing: the private key
  std::string pub_path;  // verifying: the public key; signing: the key the private one must match
  std::vector<std::string> files;
};

int usage() {
  std::fputs(
      "usage: gm-sign --key <private.pem> [--pub <public.pem>] <file>...\n"
      "       gm-sign --verify --pub <public.pem> <file>...\n",
      stderr);
  return 2;
}

bool parse(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verify") {
      a.verify = true;
    } else if (arg == "--key" && i + 1 < argc) {
      a.key_path = argv[++i];
    } else if (arg == "--pub" && i + 1 < argc) {
      a.pub_path = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      a.files.push_back(arg);
    }
  }
  // Verifying takes one public key, given as --pub (or, as it always could be, as --key).
  if (a.verify && a.pub_path.empty()) std::swap(a.key_path, a.pub_path);
  if (a.verify && !a.key_path.empty()) return false;
  return !(a.verify ? a.pub_path : a.key_path).empty() && !a.files.empty();
}

// Loads the key at `path` in PEM form; false after one line on stderr.
bool load_key(const std::string& path, bool private_half, Ed25519Key& key) {
  std::string pem;
  if (gm_loader::read_file(path, pem, 1 << 16) &&
      (private_half ? key.load_private_pem(pem) : key.load_public_pem(pem))) {
    return true;
  }
  std::fprintf(stderr, "gm-sign: %s is not an Ed25519 %s key in PEM form\n", path.c_str(),
               private_half ? "private" : "public");
  return false;
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
  Ed25519Key pub;
  if (!args.pub_path.empty() && !load_key(args.pub_path, false, pub)) return 2;
  if (args.verify) return verify_files(pub, args.files);
  Ed25519Key key;
  if (!load_key(args.key_path, true, key)) return 2;
  // A signature that the public key in use will refuse is worse than none: it looks finished.
  if (pub.ok() && key.public_pem() != pub.public_pem()) {
    std::fprintf(stderr, "gm-sign: %s is not the private half of %s, so nothing was signed\n",
                 args.key_path.c_str(), args.pub_path.c_str());
    return 2;
  }
  return sign_files(key, args.files);
}
