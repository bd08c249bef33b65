// The installer's fault points.
#include "install_faults.h"

#include <signal.h>

#include <cstdlib>
#include <cstring>

namespace gm {

#ifdef GM_TEST_HOOKS
bool install_fault(const char* step) {
  const char* kill_at = std::getenv("GAINMESH_TEST_KILL_AT");
  if (kill_at && std::strcmp(kill_at, step) == 0) raise(SIGKILL);
  const char* fail_at = std::getenv("GAINMESH_TEST_FAIL_AT");
  return fail_at && std::strcmp(fail_at, step) == 0;
}
#else
bool install_fault(const char*) {
  return false;
}
#endif

}  // namespace gm
