// Command-line options and the help texts.
#include "options.h"

#include <strings.h>

#include <cstdlib>

namespace lv1host {
namespace {

// Splits "TYPE=VALUE" into a console type and its value text.
bool split_assignment(const std::string& text, int& type, std::string& value) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos) return false;
  type = parse_type(text.substr(0, eq));
  value = text.substr(eq + 1);
  return type >= 0;
}

bool apply_rack_option(const std::string& flag, const std::string& arg, RackSetup& rack,
                       std::string& err) {
  int type;
  std::string value;
  long n;
  if (!split_assignment(arg, type, value)) {
    err = "The option " + flag + " takes TYPE=VALUE with TYPE wing, x32, 0 or 1.";
    return false;
  }
  RackSlot& slot = rack.slot[type];
  if (flag == "--card" && (value == "in" || value == "out")) {
    slot.card_in = value == "in";
  } else if (flag != "--card" && parse_int(value, 0, UINT32_MAX, n)) {
    (flag == "--kind" ? slot.kind : slot.extra) = static_cast<uint32_t>(n);
  } else {
    err = "'" + value + "' is not a valid value for " + flag + ".";
    return false;
  }
  return true;
}

}  // namespace

int parse_type(const std::string& text) {
  if (text == "0" || strcasecmp(text.c_str(), "wing") == 0) return 0;
  if (text == "1" || strcasecmp(text.c_str(), "x32") == 0) return 1;
  return -1;
}

bool parse_int(const std::string& text, long lo, long hi, long& out) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  out = std::strtol(text.c_str(), nullptr, 10);
  return out >= lo && out <= hi;
}

ParseResult parse_options(int argc, char** argv, Options& o, std::string& err) {
  // Started as an app is (by "Start LV1", with no arguments), it takes its control socket from
  // the environment and reads no stdin.
  if (const char* control = getenv("GAINMESH_LV1_CONTROL"); control && *control) {
    o.control = control;
    o.use_stdin = false;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") return ParseResult::kHelp;
    if (a == "--no-stdin") {
      o.use_stdin = false;
      continue;
    }
    if (a != "--control" && a != "--card" && a != "--kind" && a != "--extra") {
      err = "Unknown option " + a + " (see --help).";
      return ParseResult::kError;
    }
    if (i + 1 >= argc) {
      err = "The option " + a + " needs a value.";
      return ParseResult::kError;
    }
    const std::string value = argv[++i];
    if (a == "--control") {
      o.control = value;
    } else if (!apply_rack_option(a, value, o.rack, err)) {
      return ParseResult::kError;
    }
  }
  return ParseResult::kRun;
}

std::string commands_text() {
  return "help                          this list\n"
         "gain <type> <ch> <dB>         turn a strip's gain (forwarded to the IO module)\n"
         "phantom <type> <ch> on|off    switch a strip's 48V\n"
         "session <type> <file>         open a session with stored preamp values: a file of\n"
         "                              '<ch> <dB> [on|off]' lines\n"
         "session <type> <ch>:<dB>[:on|off] ...\n"
         "                              the same, values given inline\n"
         "card <type> in|out            put the type's card into a rack slot or take it out\n"
         "kind <type> <n>               LV1's device kind for the card\n"
         "extra <type> <n>              further cards of the type in rack slots\n"
         "share <type> <owner-id>       the type's card is shared to this LV1 by the LV1 with\n"
         "                              that id (written to the session database)\n"
         "own <type>                    the type's card is this LV1's own again\n"
         "requery <type>                re-query every strip's preamp, min, max and step\n"
         "strips [type] [from to]       one line per strip: gain, 48V, preamp, range, counters\n"
         "rack                          one line per type: card, kind, extra cards, MAC\n"
         "quit                          unload the IO module and exit\n"
         "<type> is wing or 0, x32 or 1; <ch> is an LV1 input channel 0..63.\n"
         "Every answer is zero or more data lines, then 'ok' or 'err <text>'.\n";
}

std::string usage_text() {
  return "usage: lv1host [options]\n"
         "The eMotion LV1 stand-in: loads <IO Modules>/Gainmesh.bundle/Contents/MacOS/Gainmesh\n"
         "(IO Modules = $GAINMESH_IO_MODULES, else LV1's own folder) and takes commands.\n"
         "Keeps LV1's session database (SQLite, write-ahead log: a row per card and who owns\n"
         "it) at $GAINMESH_LV1_DB; none when that is unset or empty.\n"
         "With $GAINMESH_LV1_CONTROL set, takes commands on that Unix socket and not on stdin\n"
         "(what an LV1 started by the app uses); --control overrides the socket.\n"
         "\n"
         "options:\n"
         "  --control PATH        also take commands on a Unix socket at PATH\n"
         "  --no-stdin            do not read commands from stdin\n"
         "  --card TYPE=in|out    the type's card in a rack slot (default: wing in, x32 out)\n"
         "  --kind TYPE=N         LV1's device kind for the card (default: wing 1, x32 2)\n"
         "  --extra TYPE=N        further cards of the type in rack slots (default 0)\n"
         "  --help                this text\n"
         "\n"
         "commands (stdin and the control socket):\n" +
         commands_text();
}

}  // namespace lv1host
