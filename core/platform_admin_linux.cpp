// The administrator prompt on Linux: pkexec in place of osascript's "with administrator
// privileges", its refusals read back as AppleScript's cancelled-dialog error.
#include <unistd.h>

#include <cstdlib>

#include "platform.h"

namespace gm {
namespace {

constexpr const char* kElevate = "/usr/bin/pkexec";
// pkexec's exit statuses for a dismissed prompt and for authorisation that was not given.
constexpr int kDismissed = 126;
constexpr int kNotAuthorised = 127;

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
  // The root child ends with 0 or 1 only, so these two come from pkexec.
  if ((status == kDismissed || status == kNotAuthorised) && out.find("ERR:") == std::string::npos) {
    if (output) *output += "User canceled. (-128)";
    return 1;
  }
  return status;
}

}  // namespace gm
