// The administrator prompt on Linux: pkexec in place of osascript's "with administrator
// privileges", its own report of a dismissed or refused prompt read back as AppleScript's
// cancelled-dialog error.
#include <unistd.h>

#include <cstdlib>

#include "platform.h"

namespace gm {
namespace {

constexpr const char* kElevate = "/usr/bin/pkexec";
// pkexec's exit statuses for a dismissed prompt and for authorisation that was not given. The
// shell returns the same two when the program it was to run is missing or not executable, and
// pkexec 127 when no authentication agent runs; only pkexec's own words, with nothing before
// them, tell them apart.
constexpr int kDismissed = 126;
constexpr int kNotAuthorised = 127;
constexpr const char* kPkexecSays[] = {
    "Error executing command as another user: Request dismissed",
    "Error executing command as another user: Not authorized",
};

bool prompt_refused(int status, const std::string& out) {
  if (status != kDismissed && status != kNotAuthorised) return false;
  for (const char* words : kPkexecSays) {
    if (out.rfind(words, 0) == 0) return true;
  }
  return false;
}

std::string elevation_program() {
#ifdef GM_TEST_HOOKS
  const char* stand_in = std::getenv("GAINMESH_TEST_ELEVATE");
  if (stand_in && stand_in[0]) return stand_in;
#endif
  return kElevate;
}

}  // namespace

int run_as_administrator(const std::string& script, const std::string& command, std::string* output,
                         int timeout_seconds) {
  (void)script;  // osascript's text; pkexec takes the shell command itself
  const std::string program = elevation_program();
  if (access(program.c_str(), X_OK) != 0) {
    if (output) *output += program + " is missing";
    return -1;
  }
  std::string out;
  const int status = run({program, "/bin/sh", "-c", command}, &out, timeout_seconds);
  if (output) *output += out;
  if (prompt_refused(status, out)) {
    if (output) *output += "User canceled. (-128)";
    return 1;
  }
  return status;
}

}  // namespace gm
