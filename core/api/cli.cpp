// The command line of the app executable: each option does its job, prints a short result and
// gives the process's exit code.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "api.h"
#include "base/utf8.h"
#include "core_state.h"
#include "install_state.h"
#include "lv1.h"
#include "lv1db.h"
#include "netperm.h"
#include "privileged.h"
#include "support.h"
#include "updater.h"
#include "util.h"

namespace gm {
namespace {

constexpr const char* kUsage =
    "usage: Gainmesh --status | --diag | --scan | --install | --remove | --switch wing|x32 on|off\n"
    "                | --setting wing|x32 recall on|off | --setting wing|x32 resync lv1|desk | "
    "--support | --update-now\n";
constexpr const char* kSettingError = "recall on|off, or resync lv1|desk\n";

// The options in the order they are recognised.
constexpr const char* kOptions[] = {"--status", "--update-now", "--install", "--remove", "--switch",
                                    "--setting", "--scan",      "--support", "--diag"};

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Asked for, the usage is the answer rather than a mistake.
int cli_help() {
  std::fputs(kUsage, stdout);
  return 0;
}

// The version as the dashboard's footer shows it.
int cli_version() {
  std::printf("Gainmesh %s\n", version_text().c_str());
  return 0;
}

// "wing" -> 0, "x32" -> 1, else -1.
int console_key(const char* key) {
  for (int i = 0; i < 2; ++i) {
    if (std::strcmp(key, kSupported[i].key) == 0) return i;
  }
  return -1;
}

int cli_switch(int argc, char** argv) {
  if (argc < 4 || console_key(argv[2]) < 0) return usage();
  if (std::strcmp(argv[3], "on") != 0 && std::strcmp(argv[3], "off") != 0) return usage();
  const int which = console_key(argv[2]);
  const bool want_on = std::strcmp(argv[3], "on") == 0;
  bool on = false;
  const bool present = console_installed(which, &on);
  if (!want_on && !present) {
    std::printf("%s is not installed - nothing to switch off\n", argv[2]);
    return 0;
  }
  if (present && on == want_on) {
    std::printf("%s already %s\n", argv[2], argv[3]);
    return 0;
  }
  if (gm_switch(which) == 1) {
    std::printf("confirm: switch the %s off (LV1 is running) - confirmed\n", argv[2]);
    gm_switch_off(which);
  }
  const std::string msg = current_msg();
  on = false;
  const bool now_on = console_installed(which, &on) && on;
  std::printf("%s %s%s%s\n", argv[2], now_on ? "on" : "off", msg.empty() ? "" : " - ",
              msg.c_str());
  return now_on == want_on ? 0 : 1;
}

int cli_install() {
  if (gm_install()) {
    std::puts("installed");
    return 0;
  }
  std::fprintf(stderr, "%s\n", current_msg().c_str());
  return 1;
}

int cli_remove() {
  // gm_remove leaves LV1 running without a message; the command line says why.
  if (lv1_running()) {
    std::fputs("Close eMotion LV1 first.\n", stderr);
    return 1;
  }
  if (gm_remove()) {
    std::puts("removed");
    return 0;
  }
  const std::string msg = current_msg();
  std::fprintf(stderr, "%s\n", msg.empty() ? "Close eMotion LV1 first." : msg.c_str());
  return 1;
}

int cli_setting(int argc, char** argv) {
  if (argc < 5) return usage();
  const int which = console_key(argv[2]);
  if (which < 0) return usage();
  const std::string word = argv[3], value = argv[4];
  bool saved = false;
  if (word == "recall" && (value == "on" || value == "off")) {
    saved = set_recall(which, value == "on");
  } else if (word == "resync" && (value == "lv1" || value == "desk")) {
    saved = set_resync(which, value == "lv1");
  } else {
    std::fputs(kSettingError, stderr);
    return 2;
  }
  if (!saved) {
    std::fprintf(stderr, "Could not save it to %s - is Gainmesh installed in LV1?\n",
                 con_cfg(which).c_str());
    return 1;
  }
  std::printf("%s %s=%s\n", argv[2], word.c_str(), value.c_str());
  return 0;
}

// Asks for local-network access when it was never asked, scans, then prints the WING's reply
// line or "-", and the X32 / M32's: one line each, whatever a console or a module's block holds.
int cli_scan() {
  if (!net_asked()) net_request();
  gm_scan();
  Found found[2];
  {
    std::lock_guard<std::mutex> lock(core_mutex());
    for (int i = 0; i < 2; ++i) found[i] = core_state().found[i];
  }
  for (const Found& f : found) {
    std::printf("%s\n", f.found ? gm_base::text_line(f.reply).c_str() : "-");
  }
  return 0;
}

int cli_diag() {
  write_diagnostics(stdout);
  return 0;
}

// The failure is the same sentence the Setup window shows, as for --install and --remove.
int cli_support() {
  char path[PATH_MAX + 1];  // a longer path could not have been written
  if (!gm_save_support(path, sizeof path)) {
    std::fprintf(stderr, "%s\n", current_msg().c_str());
    return 1;
  }
  std::printf("%s\n", path);
  return 0;
}

// Scans, turns the loader's live status into messages, reads which consoles LV1 only borrows,
// then prints the page document.
int cli_status() {
  gm_scan();
  check_blocks();
  bool guest[2] = {false, false};
  if (lv1_guest_consoles(guest)) {
    std::lock_guard<std::mutex> lock(core_mutex());
    for (int i = 0; i < 2; ++i) core_state().guest[i] = guest[i];
  }
  std::puts(gm_snapshot());
  return 0;
}

}  // namespace
}  // namespace gm

extern "C" int gm_cli(int argc, char** argv) {
  using namespace gm;
  if (argc < 2 || !argv || !argv[1]) return -1;
  const std::string opt = argv[1];
  if (opt == "--install-root") return cli_install_root(argc, argv);
  if (opt == "--remove-root") return cli_remove_root(argc, argv);
  if (opt == "--help" || opt == "-h") return cli_help();
  if (opt == "--version") return cli_version();
  bool known = false;
  for (const char* o : kOptions) known = known || opt == o;
  if (!known) return -1;
  set_app_path(app_from_exe());
  const char* app = std::getenv("GAINMESH_APP");
  if (app && app[0]) set_app_path(app);
  if (opt == "--status") return cli_status();
  if (opt == "--install") return cli_install();
  if (opt == "--remove") return cli_remove();
  if (opt == "--switch") return cli_switch(argc, argv);
  if (opt == "--setting") return cli_setting(argc, argv);
  if (opt == "--scan") return cli_scan();
  if (opt == "--support") return cli_support();
  if (opt == "--diag") return cli_diag();
  return cli_update_now();  // the last of kOptions
}
