// A crowded machine for a benchmark: extra idle processes, as a show computer runs hundreds
// (the system, LV1 and its plug-in servers, the audio driver, browsers) where a quiet test machine
// runs few.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace gmbench {

class Crowd {
 public:
  // Starts n sleeping processes; they end with this object, or with this process if it dies.
  // Throws when one cannot be started (those already started are ended).
  explicit Crowd(int n);
  ~Crowd();
  Crowd(const Crowd&) = delete;
  Crowd& operator=(const Crowd&) = delete;

 private:
  std::vector<pid_t> pids_;
};

// N of a "--crowd N" among the arguments; 0 without one. -1 when N is not a whole number from 1
// to 5000.
int crowd_argument(int argc, char** argv);

// "x.xx" as a ratio of two figures, "-" when the first is not positive.
std::string ratio_text(double quiet, double crowded);

}  // namespace gmbench
