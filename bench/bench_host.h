// The benchmark's LV1 and loader in one: a GmHost whose callbacks keep LV1's 64 strips of one
// WING device and time-stamp every gain the module shows there, and the gain structure LV1 owns.
// LV1 writes its own values into the structure before it calls the module, as lv1host does.
//
// One BenchHost per process (the host table's callbacks carry no context but the log's). The
// callbacks may run on any module thread; the other members are for the driving thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "gm_module.h"

namespace gmbench {

class BenchHost {
 public:
  explicit BenchHost(const std::wstring& cfg_path);
  ~BenchHost();
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

  const GmHost* table() const { return &host_; }
  WingGainIface* iface() { return &iface_; }

  // LV1 turns strip ch to db: the strip and the gain structure first, then the module's set.
  void turn_gain(const GmModule* m, int ch, double db);

  // Waits until the module showed a live gain of db (within 0.01) on strip ch at or after
  // since_ns; returns when it did (now_ns clock), or -1 after timeout_ms.
  int64_t wait_live_gain(int ch, double db, int64_t since_ns, int timeout_ms);
  // The gain strip ch shows now.
  double strip_gain(int ch) const;

  // Waits until a log line containing needle was logged; false after timeout_ms.
  bool wait_for_line(const std::string& needle, int timeout_ms) const;
  // The last log lines (at most 200 are kept), one per line.
  std::string recent_log() const;

 private:
  struct GainShown {
    int ch;
    double db;
    bool live;
    int64_t at_ns;
  };
  static void log_cb(void* ctx, int level, const char* text);
  static int injected_cb();
  static bool mac_cb(uint8_t mac[6]);
  static void* common_cb();
  static void push_cb(WingGainIface* iface, int ch, double gain_db, bool set_gain, bool phantom_on,
                      bool set_phantom, bool live);
  static void refresh_cb(int ch);
  void show_gain(int ch, double db);

  GmHost host_{};
  std::wstring cfg_path_;
  WingGainIface iface_{};
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  double strip_gain_[64] = {};
  std::vector<GainShown> shown_;
  std::deque<std::string> log_;
};

}  // namespace gmbench
