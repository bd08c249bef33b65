// gm-dashboard: presses one of the dashboard's buttons from a script, through the same core entry
// point the Setup window calls, and prints the setup message it leaves. The demo starts LV1 with
// it when no Setup window is shown.
//
//   gm-dashboard start-lv1     "Start LV1": opens the eMotion LV1 app
//
// Exit 0 when the button did what it says, 1 when the
// message says it could not, 2 for an unknown button.
#include <cstdio>
#include <string>

#include "api.h"
#include "core_state.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) != "start-lv1") {
    std::fputs("usage: gm-dashboard start-lv1\n", stderr);
    return 2;
  }
  gm_start_lv1();
  const std::string msg = gm::current_msg();
  std::printf("%s\n", msg.c_str());
  return msg == "Starting eMotion LV1\xE2\x80\xA6" ? 0 : 1;
}
