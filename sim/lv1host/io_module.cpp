// Loading the IO module bundle's executable and forwarding LV1's calls to it.
#include "io_module.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>

namespace lv1host {
namespace {

constexpr const char* kLv1IoModules = "/Library/Application Support/Waves/SoundGrid IO Modules";
constexpr const char* kBundleExecutable = "/Gainmesh.bundle/Contents/MacOS/Gainmesh";

}  // namespace

std::string IoModule::default_path() {
  const char* iom = std::getenv("GAINMESH_IO_MODULES");
  return std::string(iom && *iom ? iom : kLv1IoModules) + kBundleExecutable;
}

bool IoModule::load(const std::string& path, const Lv1HostApi* host, std::string& err) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    err = "No IO module at " + path + ".";
    return false;
  }
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    const char* why = dlerror();
    err = "Could not open the IO module " + path + ": " + (why ? why : "unknown error") + ".";
    return false;
  }
  auto entry = reinterpret_cast<Lv1IoModuleEntryFn>(dlsym(lib, LV1_IO_ENTRY_SYMBOL));
  if (!entry) {
    err = "The IO module " + path + " has no " LV1_IO_ENTRY_SYMBOL ".";
    return false;
  }
  const Lv1IoModule* table = entry(host);
  if (!table || table->abi != LV1_IO_ABI) {
    err = "The IO module " + path + " refused this LV1.";
    return false;
  }
  table_.store(table);
  return true;
}

void IoModule::set_gain(int type, int ch, double gain_db) const {
  const Lv1IoModule* t = table_.load();
  if (t && t->set_gain) t->set_gain(type, ch, gain_db);
}

void IoModule::set_phantom(int type, int ch, bool on) const {
  const Lv1IoModule* t = table_.load();
  if (t && t->set_phantom) t->set_phantom(type, ch, on ? 1 : 0);
}

bool IoModule::caps(int type, int ch, Caps& out) const {
  const Lv1IoModule* t = table_.load();
  if (!t) return false;
  out = Caps{};
  if (t->has_preamp) out.preamp = t->has_preamp(type, ch) != 0;
  if (t->min) out.min = t->min(type, ch);
  if (t->max) out.max = t->max(type, ch);
  if (t->step) out.step = t->step(type, ch);
  return true;
}

void IoModule::recall(int type, const double gain[64], const int phantom[64],
                      const int present[64]) const {
  const Lv1IoModule* t = table_.load();
  if (t && t->recall) t->recall(type, gain, phantom, present);
}

void IoModule::rack_changed() const {
  const Lv1IoModule* t = table_.load();
  if (t && t->rack_changed) t->rack_changed();
}

void IoModule::unload() {
  const Lv1IoModule* t = table_.load();
  if (t && t->unload) t->unload();
  table_.store(nullptr);
}

}  // namespace lv1host
