// The parent's side of the administrator step: the command and prompt texts, and reading the
// outcome back.
#include "privileged.h"

#include <unistd.h>

#include <cstdlib>

#include "platform.h"
#include "util.h"

namespace gm {
namespace {

constexpr int kAdminTimeoutS = 600;
constexpr int kMaxRelayedLines = 100;
constexpr const char* kPrompt = "Gainmesh needs to write into eMotion LV1's IO Modules folder.";

// The output without the root child's start line; `started` tells whether it was there.
std::string without_start_line(std::string output, bool& started) {
  const std::string line = std::string(kRootChildStarted) + "\n";
  const size_t at = output.find(line);
  started = at != std::string::npos;
  if (started) output.erase(at, line.size());
  return output;
}

// The sentence for a failed administrator step, from its output and exit status. Once the root
// child has started, the password was given: nothing it did reads as a cancelled prompt.
std::string failure_text(const std::string& raw, int status) {
  bool started = false;
  std::string output = without_start_line(raw, started);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  if (!started && output.find("-128") != std::string::npos) {
    return "No administrator password was given, so nothing was changed.";
  }
  const size_t relayed = output.find("ERR:");
  if (relayed != std::string::npos) return output.substr(relayed + 4);
  return "The administrator step failed (" + (output.empty() ? std::to_string(status) : output) +
         ").";
}

// The root child logs on its standard error; once it succeeded, its lines go into this app's log,
// so that what it left out can be found there.
void relay_child_log(const std::string& output) {
  bool started = false;
  const std::string lines = without_start_line(output, started);
  int relayed = 0;
  for (size_t at = 0; at < lines.size() && relayed < kMaxRelayedLines; ++relayed) {
    size_t end = lines.find('\n', at);
    if (end == std::string::npos) end = lines.size();
    if (end > at) logf("%s", lines.substr(at, end - at).c_str());
    at = end + 1;
  }
}

}  // namespace

std::string sh_quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string as_quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string privileged_command(const std::string& verb, int only) {
  std::string cmd = sh_quote(app_path() + "/Contents/MacOS/Gainmesh") + " " + verb + " " +
                    sh_quote(app_path()) + " " + sh_quote(home()) + " " + std::to_string(getuid()) +
                    " " + std::to_string(getgid()) + " " + std::to_string(only);
  const char* iom = std::getenv("GAINMESH_IO_MODULES");
  if (iom && iom[0]) cmd = "GAINMESH_IO_MODULES=" + sh_quote(iom) + " " + cmd;
  return cmd;
}

std::string privileged_script(const std::string& command) {
  return "do shell script " + as_quote(command) + " with prompt " + as_quote(kPrompt) +
         " with administrator privileges";
}

bool run_privileged(const std::string& verb, std::string& err, int only) {
  const std::string command = privileged_command(verb, only);
  const std::string script = privileged_script(command);
  logf("%s: asking for an administrator password", verb.c_str());
  logf("%s: administrator script %s", verb.c_str(), script.c_str());
  std::string output;
  const int status = run_as_administrator(script, command, &output, kAdminTimeoutS);
  if (status == 0) {
    relay_child_log(output);
    return true;
  }
  err = failure_text(output, status);
  logf("%s: %s", verb.c_str(), err.c_str());
  return false;
}

}  // namespace gm
