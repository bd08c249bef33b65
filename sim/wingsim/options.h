// The command line of wingsim.
#pragma once

#include <string>

namespace wingsim {

struct Options {
  std::string ip = "127.0.0.1";
  std::string name = "FOH";
  std::string model = "wing-rack";
  std::string serial = "S0001";
  std::string firmware = "3.1-0-g9f314617";
  std::string nodes = GM_DEFAULT_NODES;
  std::string control;  // Unix socket path of a control channel; empty for none
  bool use_stdin = true;
  bool x32 = false;
  std::string mod_card = "WSG";
  std::string crd_card = "NONE";
  std::string patch = "MOD:1-24=LCL:1-24";
  bool quiet = false;
};

enum class ParseResult { kRun, kHelp, kError };

// Fills options from argv. kError sets err to one sentence.
ParseResult parse_options(int argc, char** argv, Options& options, std::string& err);
// The --help text: options and control commands.
std::string usage_text();
// The control commands, one per line (the answer to "help").
std::string commands_text();

}  // namespace wingsim
