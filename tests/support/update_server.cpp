// The update server for tests.
#include "support/update_server.h"

#include "support/loopback.h"

namespace gmtest {

UpdateServerProcess::UpdateServerProcess()
    : rig::UpdateServer({.script = GM_BUILD_DIR "/sim/update_server.py",
                         .ip = unique_loopback(),
                         .release_tool = GM_BUILD_DIR "/tools/gm-release",
                         .release_key = GM_SOURCE_DIR "/tests/keys/test-release.pem"}) {}

}  // namespace gmtest
