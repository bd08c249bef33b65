// Command-line options and the help texts.
#include "options.h"

#include <cstring>

#include "net.h"

namespace wingsim {
namespace {

struct TextOption {
  const char* flag;
  std::string Options::*field;
};

constexpr TextOption kTextOptions[] = {
    {"--ip", &Options::ip},
    {"--name", &Options::name},
    {"--model", &Options::model},
    {"--serial", &Options::serial},
    {"--firmware", &Options::firmware},
    {"--nodes", &Options::nodes},
    {"--control", &Options::control},
    {"--mod-card", &Options::mod_card},
    {"--crd-card", &Options::crd_card},
    {"--patch", &Options::patch},
};

}  // namespace

ParseResult parse_options(int argc, char** argv, Options& o, std::string& err) {
  bool model_given = false;
  bool firmware_given = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!strcmp(a, "--help") || !strcmp(a, "-h")) return ParseResult::kHelp;
    if (!strcmp(a, "--x32"))
      o.x32 = true;
    else if (!strcmp(a, "--no-stdin"))
      o.use_stdin = false;
    else if (!strcmp(a, "--quiet"))
      o.quiet = true;
    else {
      const TextOption* opt = nullptr;
      for (const TextOption& t : kTextOptions) {
        if (!strcmp(a, t.flag)) opt = &t;
      }
      if (!opt) {
        err = std::string("Unknown option ") + a + " (see --help).";
        return ParseResult::kError;
      }
      if (i + 1 >= argc) {
        err = std::string("The option ") + a + " needs a value.";
        return ParseResult::kError;
      }
      o.*(opt->field) = argv[++i];
      model_given |= opt->field == &Options::model;
      firmware_given |= opt->field == &Options::firmware;
    }
  }
  if (!valid_ipv4(o.ip)) {
    err = "The address " + o.ip + " is not IPv4 text.";
    return ParseResult::kError;
  }
  if (o.x32 && !model_given) o.model = "X32";
  if (o.x32 && !firmware_given) o.firmware = "4.06";
  return ParseResult::kRun;
}

std::string commands_text() {
  return "help                          this list\n"
         "get <path>                    a leaf's value, or 'leaf value' for each leaf of a node\n"
         "hash <path>                   the node's hash (8 hex digits)\n"
         "set <path> <value>            a change at the desk, pushed to clients; an index may\n"
         "                              be a range: set /io/in/A/1-16/$ha 3\n"
         "patch <list>                  re-patch card outputs, e.g. MOD:1-8=LCL:1-8,CRD:1=OFF\n"
         "sets                          every set received from clients, 'path value', oldest "
         "first\n"
         "clear-sets                    forget them\n"
         "clients                       number of connected control clients\n"
         "discovery                     number of discovery questions received (WING? on UDP\n"
         "                              2222, /xinfo on UDP 10023), answered or not\n"
         "level <grp> <n|a-b> <dB>      meter level of inputs (LCL AUX A B C SC USB CRD MOD PLAY\n"
         "                              AES USR)\n"
         "fault refuse-tcp on|off       close / reopen the TCP listener (connects are refused)\n"
         "fault drop                    close every client connection now\n"
         "fault silent on|off           keep TCP open but answer nothing and push nothing\n"
         "fault delay <ms>              delay every reply and push\n"
         "fault garbage <n>             send n noise bytes to every control client\n"
         "fault split on|off            write replies byte by byte with small pauses\n"
         "fault meter-size <bytes|off>  send meter frames of that size\n"
         "fault list-without <leaf|off> list replies leave out that leaf\n"
         "identity name=.. model=.. serial=.. firmware=..   what discovery answers\n"
         "move <ip>                     the desk takes a new address: rebind everything there\n"
         "quit                          stop\n";
}

std::string usage_text() {
  return "usage: wingsim [options]\n"
         "A virtual WING: native control on TCP 2222, discovery on UDP 2222, OSC on UDP 2223,\n"
         "metering; bound to one IPv4 address (hearing broadcasts on its network) or to 0.0.0.0,\n"
         "answering discovery with the address of the interface each question arrived on.\n\n"
         "  --ip A.B.C.D       address to bind, 0.0.0.0 for every interface (default 127.0.0.1)\n"
         "  --name TEXT        desk name (default FOH)\n"
         "  --model TEXT       model (default wing-rack; X32 with --x32)\n"
         "  --serial TEXT      serial number (default S0001)\n"
         "  --firmware TEXT    firmware version (default 3.1-0-g9f314617; 4.06 with --x32)\n"
         "  --nodes FILE       node data of the firmware (default " GM_DEFAULT_NODES
         ")\n"
         "  --control PATH     Unix socket for a control channel\n"
         "  --no-stdin         do not read control commands from stdin\n"
         "  --x32              X32 / M32 mode: answer /xinfo on UDP 10023 and nothing else\n"
         "  --mod-card TEXT    card type in the module slot, /$syscfg/opt_mod (default WSG)\n"
         "  --crd-card TEXT    card type in the card slot, /cards/$type (default NONE)\n"
         "  --patch LIST       card-output patch (default MOD:1-24=LCL:1-24; \"\" for none)\n"
         "  --quiet            no log lines on stderr\n\n"
         "Control commands (stdin and --control; each answer ends in 'ok' or 'err <text>'):\n" +
         commands_text();
}

}  // namespace wingsim
