// host_services: what the layers below the entry point use of the module's host (the loader's
// GmHost table, and LV1 behind it): the settings path, the status block tag, LV1's device box,
// pushes to LV1's strips, the log (module_log.h), the count of threads left running and of LV1's
// capability queries. The entry point fills it in with the host it is given; every lower layer
// reaches the host through this leaf only.
#pragma once

#include <cstdint>

#include "gm_module.h"
#include "module_log.h"

namespace gm {

// Makes h the host every wrapper below reads (null: none), without starting anything. The entry
// point calls it at m_start and m_stop; in-process tests of the layers below call it themselves.
// Any thread.
void host_install(const GmHost* h);

// Host wrappers: each returns a neutral value when the host or its field is missing. Any thread.
const wchar_t* gm_cfg_path();      // "" when missing
const wchar_t* gm_instance_tag();  // "" when missing
bool wing_is_injected();
// The device box MAC in a buffer of the calling thread, or null; logs the missing-MAC warning once.
const uint8_t* wing_device_mac();
void* wing_common_callback();
void wing_push_to_lv1(WingGainIface* iface, int ch, double gain_db, bool set_gain, bool phantom_on,
                      bool set_phantom, bool live);
void wing_refresh_strip(int ch);

// Capability queries LV1 made (m_has_preamp calls, counted by the entry point through
// note_caps_query), and the lowest / highest channel asked since the last reset
// (2147483647 / -1 when none). Any thread.
void note_caps_query(int ch);
int64_t caps_query_count();
int caps_lowest_asked();
int caps_highest_asked();
void caps_reset_range();

// Stops at which a worker thread did not end in time; nonzero makes m_stop return 0. The
// control link and metering stops count here too.
void note_thread_left_running();
uint32_t threads_left_running();

}  // namespace gm
