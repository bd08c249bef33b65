// The administrator step: when LV1's IO Modules folder (or the installed bundle) is not writable,
// the app runs its own executable as root behind the system's administrator prompt, with a
// hidden verb ("--install-root" or "--remove-root") that does exactly one install or removal and
// reports a failure as one "ERR:<sentence>" line on standard error.
//
// The root child's arguments: executable, verb, app bundle, the user's home, uid, gid, and the
// console index a first install alone switches on (-1 for all). Before anything else the child
// writes the line kRootChildStarted on standard output, and it stops itself after 600 s.
#pragma once

#include <string>

namespace gm {

// The root child's first line of output: the prompt was answered and the child runs.
inline constexpr const char* kRootChildStarted = "OK:started";

// POSIX shell single quoting: 'text' with every ' written as '\''.
std::string sh_quote(const std::string& text);
// An AppleScript string literal: "text" with a backslash before every backslash and double quote.
std::string as_quote(const std::string& text);

// The shell command that runs the root child for `verb`, with GAINMESH_IO_MODULES passed on
// when it is set.
std::string privileged_command(const std::string& verb, int only);
// The AppleScript text that runs `command` with administrator privileges behind Gainmesh's
// prompt.
std::string privileged_script(const std::string& command);

// Runs the root child for `verb` behind the administrator prompt and waits for it (at most
// 600 s). True when the child succeeded; false with err holding one sentence (a cancelled prompt,
// the child's own message, or why the step failed).
// Threads: any but the UI's; blocks for the prompt and the child.
bool run_privileged(const std::string& verb, std::string& err, int only);

// The root child's shared set-up: the app path from argv[2], GAINMESH_HOME from argv[3], the
// owner to hand files to from argv[4] and argv[5] (kKeepOwner when absent or not a decimal
// number), and every log line on standard error.
void root_env(int argc, char** argv, unsigned& uid, unsigned& gid);
// The hidden verbs; each returns the process's exit status (0 done, 1 failed with "ERR:" line).
int cli_install_root(int argc, char** argv);
int cli_remove_root(int argc, char** argv);

}  // namespace gm
