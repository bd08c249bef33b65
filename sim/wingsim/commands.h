// The control commands (see --help): what the person at the desk and the tests can do.
#pragma once

#include <string>

namespace wingsim {

class Sim;

// Runs one command line. Returns the answer: data lines, then "ok" or "err <text>", each
// ending in '\n'; an empty line gets an empty answer.
std::string run_command(Sim& sim, const std::string& line);

}  // namespace wingsim
