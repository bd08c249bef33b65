// What the module's suites (tests/module/<layer>) share beside tests/support:
// byte strings, a record of the desk's pushes and checks of the host's log.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/host_harness.h"
#include "support/loopback.h"

namespace gmtest {

inline long ms_since(std::chrono::steady_clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
          .count());
}

// The parts one after another.
template <class T>
T cat(std::initializer_list<T> parts) {
  T out;
  for (const T& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The desk's pushes as "group index/leaf=value" lines, from any thread. The push callbacks carry
// no context, so there is one record per test process: pushes().
class PushLog {
 public:
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.clear();
  }
  // The callback for the link's push registrations.
  static void record(const char* group, int index, const char* leaf, double value, bool);

 private:
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};

inline PushLog& pushes() {
  static PushLog log;
  return log;
}
inline void PushLog::record(const char* group, int index, const char* leaf, double value, bool) {
  char line[128];
  std::snprintf(line, sizeof line, "%s %d/%s=%g", group, index, leaf, value);
  std::lock_guard<std::mutex> lock(pushes().mu_);
  pushes().lines_.push_back(line);
}

// Every one of the lines was logged.
inline void expect_lines(const FakeHost& host, const std::vector<std::string>& lines) {
  for (const std::string& l : lines) EXPECT_TRUE(host.has_line(l)) << l;
}

// Each line was logged exactly that many times.
inline void expect_counts(const FakeHost& host,
                          const std::vector<std::pair<std::string, int>>& counts) {
  for (const auto& [line, n] : counts) EXPECT_EQ(host.count_lines(line), n) << line;
}

}  // namespace gmtest
