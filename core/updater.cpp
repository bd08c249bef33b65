// The updater's state, its folders and the periodic driver.
#include "updater.h"

#include <atomic>

#include "util.h"

namespace gm {
namespace {

std::atomic<bool> g_busy{false};
std::atomic<bool> g_staged{false};

}  // namespace

std::string updates_root() {
  return support_dir() + "/updates";
}
std::string stage_dir() {
  return updates_root() + "/staged";
}

bool updater_staged() {
  return g_staged.load();
}
bool updater_busy() {
  return g_busy.load();
}

std::string staged_version() {
  std::string text;
  if (!read_file(stage_dir() + "/ready", text, 64)) return "";
  return text;
}

}  // namespace gm
