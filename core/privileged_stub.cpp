// The administrator step, until it is built: it refuses with a sentence the user can read.
#include "privileged.h"

namespace gm {

bool run_privileged_install(std::string& err, int /*only*/) {
  err = "Installing into a folder that needs an administrator is not built yet.";
  return false;
}

}  // namespace gm
