// The root child's side of the administrator step: one install or removal, a failure as one
// "ERR:" line on standard error.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "install.h"
#include "lv1.h"
#include "privileged.h"
#include "remove.h"
#include "util.h"

namespace gm {
namespace {

// A decimal number that fits `long` as a whole, else `fallback`.
long decimal(const char* text, long fallback) {
  if (!text || !*text) return fallback;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return (errno != 0 || *end != '\0') ? fallback : value;
}

// A user or group id. Anything but a plain decimal id leaves the files to root rather than
// handing them to whoever a misread number would name (0 included).
unsigned owner_id(const char* text) {
  if (!text || *text < '0' || *text > '9') return kKeepOwner;
  const long value = decimal(text, -1);
  return (value < 0 || value >= static_cast<long>(kKeepOwner)) ? kKeepOwner
                                                               : static_cast<unsigned>(value);
}

// The parent cannot signal a process running as root, so the child keeps the step's time
// limit itself.
constexpr unsigned kDeadlineS = 600;

void on_deadline(int) {
  static const char kLine[] =
      "ERR:The administrator step took longer than 600 seconds and was stopped.\n";
  (void)!write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(1);
}

// The first line of the child's output, before anything else: once the parent sees it, the
// password was given and the child ran, so no later failure reads as a cancelled prompt.
void announce_start() {
  signal(SIGALRM, on_deadline);
  alarm(kDeadlineS);
  std::fputs(kRootChildStarted, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int fail(const std::string& err) {
  std::fprintf(stderr, "ERR:%s\n", err.c_str());
  return 1;
}

}  // namespace

void root_env(int argc, char** argv, unsigned& uid, unsigned& gid) {
  uid = gid = kKeepOwner;
  set_app_path(argc < 3 ? "" : argv[2]);
  if (argc > 3) setenv("GAINMESH_HOME", argv[3], 1);
  if (argc >= 5) {
    uid = owner_id(argv[4]);
    gid = argc >= 6 ? owner_id(argv[5]) : kKeepOwner;
  }
  setenv("GAINMESH_LOG_STDERR", "1", 1);
}

int cli_install_root(int argc, char** argv) {
  announce_start();
  unsigned uid = kKeepOwner, gid = kKeepOwner;
  root_env(argc, argv, uid, gid);
  if (lv1_running() && exists(our_bundle())) return fail("Close eMotion LV1 first.");
  long only = argc >= 7 ? decimal(argv[6], -1) : -1;
  if (only != 0 && only != 1) only = -1;
  std::string err;
  if (!install_impl(err, uid, gid, static_cast<int>(only))) return fail(err);
  return 0;
}

int cli_remove_root(int argc, char** argv) {
  announce_start();
  unsigned uid = kKeepOwner, gid = kKeepOwner;
  root_env(argc, argv, uid, gid);
  if (lv1_running()) return fail("Close eMotion LV1 first.");
  std::string err;
  if (!remove_impl(err)) return fail(err);
  return 0;
}

}  // namespace gm
