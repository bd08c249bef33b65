// The snapshot shown in demo mode.
#include "model.h"

namespace gm {

// No demo scenario fills a record yet: demo mode shows the initial snapshot (nothing installed,
// LV1 not running).
Inputs fake_inputs() {
  return Inputs{};
}

}  // namespace gm
