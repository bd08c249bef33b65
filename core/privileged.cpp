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
constexpr const char* kPrompt = "Gainmesh needs to write into eMotion LV1's IO Modules folder.";

// The sentence for a failed administrator step, from its output and exit status.
std::string failure_text(std::string output, int status) {
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  if (output.find("-128") != std::string::npos) {
    return "No administrator password was given, so nothing was changed.";
  }
  const size_t relayed = output.find("ERR:");
  if (relayed != std::string::npos) return output.substr(relayed + 4);
  return "The administrator step failed (" + (output.empty() ? std::to_string(status) : output) +
         ").";
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
  if (status == 0) return true;
  err = failure_text(output, status);
  logf("%s: %s", verb.c_str(), err.c_str());
  return false;
}

}  // namespace gm
