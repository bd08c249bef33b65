// Finding eMotion LV1 in the process table and its bundle on disk.
#include "lv1.h"

#include <sys/time.h>

#include <map>
#include <mutex>

#include "lv1_finder.h"
#include "mono_clock.h"
#include "platform.h"
#include "util.h"

namespace gm {
namespace {

constexpr int64_t kBundleCacheSeconds = 10;
constexpr size_t kVersionMax = 511;  // the text fits a 512-byte buffer with its terminator

struct BundleCache {
  std::mutex mu;
  int64_t looked_at = 0;  // wall-clock second of the last lookup, 0 = never
  std::string app, version;
};

BundleCache& bundle_cache() {
  static BundleCache cache;
  return cache;
}

int64_t now_ms() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

// The app's one finder, shared by every thread that asks.
Lv1Process lv1_process() {
  static std::mutex mu;
  static Lv1Finder finder;
  std::lock_guard<std::mutex> lock(mu);
  return finder.find(system_process_table(), monotonic_ms());
}

}  // namespace

uint32_t lv1_pid() {
  return lv1_process().pid;
}

bool lv1_running() {
  return lv1_pid() != 0;
}

void lv1_find_bundle(std::string* app, std::string* version) {
  app->clear();
  version->clear();
  for (const std::string& path : {std::string(kLv1AppPath), home() + kLv1AppPath}) {
    if (!exists(path + "/Contents/Info.plist")) continue;
    *app = path;
    std::map<std::string, std::string> info;
    read_bundle_info(path, &info);
    *version = info["CFBundleVersion"];
    if (version->empty()) *version = info["CFBundleShortVersionString"];
    if (version->size() > kVersionMax) version->resize(kVersionMax);
    return;
  }
}

void lv1_forget_bundle() {
  BundleCache& cache = bundle_cache();
  std::lock_guard<std::mutex> lock(cache.mu);
  cache.looked_at = 0;
}

Lv1 lv1_info() {
  Lv1 out;
  {
    BundleCache& cache = bundle_cache();
    std::lock_guard<std::mutex> lock(cache.mu);
    const int64_t now_s = now_ms() / 1000;
    // A clock set back makes the cache stale rather than fresh for longer.
    if (cache.looked_at == 0 || now_s < cache.looked_at ||
        now_s - cache.looked_at >= kBundleCacheSeconds) {
      cache.looked_at = now_s;
      lv1_find_bundle(&cache.app, &cache.version);
    }
    out.app = cache.app;
    out.version = cache.version;
  }
  const Lv1Process found = lv1_process();
  out.pid = found.pid;
  if (out.pid == 0) return out;
  if (found.start_us < 0) {
    out.up_ms = 0;
    return out;
  }
  out.start_s = found.start_us / 1000000;
  const int64_t up = now_ms() - found.start_us / 1000;
  out.up_ms = up > 0 ? up : 0;
  return out;
}

}  // namespace gm
