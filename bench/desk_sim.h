// The virtual desk for the rig benchmark: runs wingsim on one loopback address and keeps one
// connection open to its control channel, through which the bench plays the person at the desk.
// Not thread safe: one thread drives it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace gmbench {

class DeskSim {
 public:
  DeskSim() = default;
  // Asks wingsim to quit, and kills it when it has not left after 3 s.
  ~DeskSim();
  DeskSim(const DeskSim&) = delete;
  DeskSim& operator=(const DeskSim&) = delete;

  // Starts wingsim (at `program`) bound to ip with the extra arguments and waits up to 20 s for
  // its control channel. False with one sentence in err when it exits or does not answer.
  bool start(const std::string& program, const std::string& ip,
             const std::vector<std::string>& extra, std::string& err);

  // One control command. True when the answer ended in "ok"; the data lines go to out, the
  // text of an "err" answer (or why none came) to err.
  bool cmd(const std::string& line, std::vector<std::string>* out = nullptr,
           std::string* err = nullptr);

  // The number that ends the first answer line of "get <path>"; NaN when there is none.
  double get_number(const std::string& path);

  const std::string& ip() const { return ip_; }

 private:
  bool connect_control();
  void stop();

  std::string ip_, control_path_;
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_;
};

}  // namespace gmbench
