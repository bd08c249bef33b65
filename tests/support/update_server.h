// The rig's update server as a test runs it (see drive/update_server.h): on its own loopback
// address, with the build's gm-release signing with the repository's TEST-ONLY release key.
#pragma once

#include "drive/update_server.h"

namespace gmtest {

class UpdateServerProcess : public rig::UpdateServer {
 public:
  // Starts the build's update server (throws on failure).
  UpdateServerProcess();
};

}  // namespace gmtest
