// Fuzz target: the bytes of a status file in the run folder, as another process may leave them,
// read both as the loader's block and as a console module's block.
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so that a read past the end is caught.
  const std::vector<unsigned char> bytes(data, data + size);
  GmLoaderStatus loader;
  if (gm::loader_status_of(bytes.data(), bytes.size(), &loader)) {
    fuzz::check(loader.loader_version[sizeof loader.loader_version - 1] == '\0');
    for (const GmLoaderConsole& c : loader.consoles) {
      fuzz::check(c.key[sizeof c.key - 1] == '\0' && c.module_file[sizeof c.module_file - 1] == 0);
    }
  }
  const gm::ConStatus st = gm::con_status_of(bytes.data(), bytes.size());
  if (st.valid) {
    fuzz::check(st.cand_count <= 6 && st.port_count <= 4);
    fuzz::check(std::strlen(st.text) < sizeof st.text &&
                std::strlen(st.typed_ip) < sizeof st.typed_ip);
  }
  return 0;
}
