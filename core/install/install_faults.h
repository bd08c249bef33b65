// Fault points of the installer, for the crash-safety tests. Only a build with GM_TEST_HOOKS
// (the build that carries the tests) reads them; elsewhere install_fault is always false.
//
//   GAINMESH_TEST_KILL_AT=<step>  the process ends with SIGKILL when the install reaches <step>
//   GAINMESH_TEST_FAIL_AT=<step>  the operation at <step> reports failure
//
// Steps, in install order: "resources" (Waves' files copied and merged into the ".new" bundle),
// "loader" (loader and property list written), "modules", "settings", "chown" (before handing
// the bundle to the user), "swap" (the old bundle is moved aside; failing it fails the rename of
// the new bundle into place), "done" (the new bundle is in place, the old one not yet removed).
// Beyond the install: "switch" (state.cfg written when a console type is switched on or off).
#pragma once

namespace gm {

// True when the operation at `step` is to fail. May end the process instead.
bool install_fault(const char* step);

}  // namespace gm
