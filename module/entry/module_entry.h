// module_entry: the module's face towards the loader, and the host services the rest of the
// module uses (logging, host wrappers, module-wide counters).
#pragma once

#include <atomic>
#include <cstdint>

#include "gm_module.h"
#include "module_log.h"

namespace gm {

inline constexpr const char* kModuleName = "wing";
inline constexpr const char* kModuleVersion = "3.2.0";

// The descriptor handed to the loader.
extern const GmModule kModule;

// Host wrappers: each returns a neutral value when the host or its field is missing. Any thread.
const wchar_t* gm_cfg_path();     // "" when missing
const wchar_t* gm_instance_tag(); // "" when missing
bool wing_is_injected();
// The device box MAC in a module-static buffer, or null; logs the missing-MAC warning once.
const uint8_t* wing_device_mac();
void* wing_common_callback();
void wing_push_to_lv1(WingGainIface* iface, int ch, double gain_db, bool set_gain,
                      bool phantom_on, bool set_phantom, bool live);
void wing_refresh_strip(int ch);

// Capability queries LV1 made (m_has_preamp calls), and the lowest / highest channel asked
// since the last reset (2147483647 / -1 when none).
int64_t caps_query_count();
int caps_lowest_asked();
int caps_highest_asked();
void caps_reset_range();

// Stops at which a worker thread did not end in time; nonzero makes m_stop return 0. The
// control link and metering stops count here too.
void note_thread_left_running();
uint32_t threads_left_running();

}  // namespace gm

namespace gm {
// Makes h the module's host without starting anything (null clears it). For in-process tests of
// the parts that log or read the settings path; the loader always goes through m_start.
void module_set_host(const GmHost* h);
}  // namespace gm
