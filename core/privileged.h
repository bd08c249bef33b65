// The administrator step of an install: the app's own executable run as root through the
// system's administrator prompt, doing one install into LV1's IO Modules folder.
//
// Threads: any thread but the UI's; blocks until the root child ends or the user cancels.
#pragma once

#include <string>

namespace gm {

// Runs the install as root with console preference `only` (as do_install). True when the root
// child succeeded; false with err holding one sentence.
bool run_privileged_install(std::string& err, int only);

}  // namespace gm
