// gm_snapshot: the dashboard as one page document, built from nothing on every call; gm_fake:
// the demo scenario that the dashboard shows instead of the machine.
#include <mutex>
#include <string>

#include "api.h"
#include "core_state.h"
#include "install_state.h"
#include "lv1.h"
#include "model.h"
#include "model_fake.h"
#include "setup_model.h"
#include "updater.h"
#include "util.h"

extern "C" const char* gm_snapshot(void) {
  using namespace gm;
  thread_local std::string page;
  CoreState s;
  {
    std::lock_guard<std::mutex> lock(core_mutex());
    s = core_state();
  }
  // The process table is the costliest read of a page: LV1 is looked up once, and not at all in
  // demo mode.
  const Lv1 lv1 = s.fake ? Lv1{} : lv1_info();
  // A complete stage, or a newer loader this app carries that waits for LV1 to close.
  const bool update_pending =
      !s.fake && (updater_staged() || (lv1.pid != 0 && loader_update_pending()));
  const Inputs in =
      s.fake ? fake_inputs() : gather(s.found, s.loader_blocked, update_pending, s.guest, &lv1);
  PageExtras extras;
  extras.message = s.fake ? "" : s.msg;
  extras.busy = s.busy;
  extras.version = version_text();
  if (s.fake) fake_page_extras(extras);
  page = page_json(in, extras);
  return page.c_str();
}

extern "C" bool gm_fake(const char* name) {
  using namespace gm;
  const bool ok = fake_setup(name);
  std::lock_guard<std::mutex> lock(core_mutex());
  core_state().fake = ok;
  return ok;
}
