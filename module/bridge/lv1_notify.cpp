// Telling LV1 that channels changed whether they have a preamp.
#include "lv1_notify.h"

#include "bridge.h"
#include "bridge_cfg.h"
#include "gm_module.h"
#include "host_services.h"

namespace gm {

void notify_patch_changed() {
  if (bridge_shutting_down() || !cfg_notify()) return;
  void* table = wing_common_callback();
  const uint8_t* mac = table ? wing_device_mac() : nullptr;
  if (!table || !mac) {
    logf("[notify] no common callback / MAC yet - cannot ask LV1 to re-read the channels");
    return;
  }
  auto slots = static_cast<void**>(table);
  auto changed =
      reinterpret_cast<GmChannelTypeStateChanged>(slots[GM_COMMON_SLOT_CHANNEL_TYPE_STATE_CHANGED]);
  if (!changed) {
    logf("[notify] no common callback / MAC yet - cannot ask LV1 to re-read the channels");
    return;
  }
  const int64_t before = caps_query_count();
  changed(table, mac);
  logf("[notify] channel_type_state_changed(mac) sent to LV1 (caps re-read so far: %ld)",
       static_cast<long>(caps_query_count() - before));
}

}  // namespace gm
