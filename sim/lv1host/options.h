// The command line of lv1host, the eMotion LV1 stand-in, and its help texts.
#pragma once

#include <cstdint>
#include <string>

#include "lv1.h"

namespace lv1host {

struct Options {
  std::string control;    // Unix socket path of a control channel; empty for none
  bool use_stdin = true;  // also take commands on stdin
  RackSetup rack;
};

enum class ParseResult { kRun, kHelp, kError };

// Fills options from argv. kError sets err to one sentence.
ParseResult parse_options(int argc, char** argv, Options& options, std::string& err);
// The --help text: options and commands.
std::string usage_text();
// The commands, one per line (the answer to "help").
std::string commands_text();

// "0" / "wing" -> 0, "1" / "x32" -> 1 (any letter case); -1 for anything else.
int parse_type(const std::string& text);
// A whole decimal number in [lo, hi]; false for anything else.
bool parse_int(const std::string& text, long lo, long hi, long& out);

}  // namespace lv1host
