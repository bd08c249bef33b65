// module_entry: the module's face towards the loader. It hands the host it is given to the host
// services (host_services.h), through which every layer below it reaches the host.
#pragma once

#include "gm_module.h"
#include "host_services.h"

namespace gm {

inline constexpr const char* kModuleName = "wing";
inline constexpr const char* kModuleVersion = "3.2.0";

// The descriptor handed to the loader.
extern const GmModule kModule;

}  // namespace gm
