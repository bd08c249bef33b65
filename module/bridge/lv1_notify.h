// lv1_notify: asks LV1 to re-read the capabilities of this module's channels after a re-patch.
#pragma once

namespace gm {

// Watch thread. With `notify` on, a common callback table and a device MAC, calls LV1's
// channel_type_state_changed and logs how many capability queries LV1 made during the call;
// otherwise logs why it cannot. Nothing while shutting down or with `notify` off.
void notify_patch_changed();

}  // namespace gm
