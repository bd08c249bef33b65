// The module's entry point and its ten operations.
#include "module_entry.h"

#include "bridge.h"
#include "bridge_status.h"

namespace gm {
namespace {

int m_start(const GmHost* h) {
  if (!h || h->abi != GM_MODULE_ABI) return 0;
  host_install(h);
  logf("---- %s module %s started by the loader ----", kModuleName, kModuleVersion);
  bridge_start();
  return 1;
}

int m_stop() {
  bridge_stop();
  bridge_status_close();
  const bool left = threads_left_running() != 0;
  logf("---- %s module stopped%s ----", kModuleName,
       left ? " - a thread is still running, the loader keeps this module mapped" : "");
  host_install(nullptr);
  return left ? 0 : 1;
}

void m_attach(WingGainIface* iface) { bridge_attach(iface); }
void m_set_gain(int ch, double gain_db) { bridge_set_gain(ch, gain_db); }
void m_set_phantom(int ch, int on) { bridge_set_phantom(ch, on != 0); }

int m_has_preamp(int ch) {
  note_caps_query(ch);
  if (ch < 0 || ch >= kChannels) return 0;
  return bridge_has_preamp(ch) ? 1 : 0;
}

double m_min(int ch) { return bridge_gain_min(ch); }
double m_max(int ch) { return bridge_gain_max(ch); }
double m_step(int ch) { return bridge_gain_step(ch); }

void m_recall(const double gain[64], const int phantom[64], const int present[64]) {
  if (!gain || !phantom || !present) return;
  bridge_recall(gain, phantom, present);
}

}  // namespace

const GmModule kModule = {
    GM_MODULE_ABI, sizeof(GmModule), kModuleName, kModuleVersion, m_start,  m_stop, m_attach,
    m_set_gain,    m_set_phantom,    m_has_preamp, m_min,         m_max,    m_step, m_recall,
};

}  // namespace gm

extern "C" __attribute__((visibility("default"))) const GmModule* gm_module_entry(int abi) {
  return abi == GM_MODULE_ABI ? &gm::kModule : nullptr;
}
