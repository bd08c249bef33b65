// The app archive of a release: an app folder packed as a zip file whose entries all lie under
// "Gainmesh.app/", keeping folders, symbolic links and each file's permission bits (the
// executable bits among them), in name order.
//
// Threads: any. Blocking: reads the whole folder.
#pragma once

#include <cstddef>
#include <string>

namespace gm_tools {

// Packs the folder `app_dir` (whatever its own name) into `out`. Refuses a folder that holds
// anything other than folders, regular files and symbolic links, or whose archive would exceed
// `max` bytes. Failure: false with one sentence in `err`.
bool zip_app(const std::string& app_dir, size_t max, std::string& out, std::string& err);

}  // namespace gm_tools
