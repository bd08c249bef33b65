// Clocks, percentiles and the process's own memory and CPU figures, as the rig benchmark reads
// them. Linux only (/proc/self/status, POSIX CPU-time clocks).
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <vector>

namespace gmbench {

// Monotonic nanoseconds (steady clock).
int64_t now_ns();

// The p-th percentile (0..100) of the samples, nearest rank; 0 for no samples. Sorts a copy.
double percentile(std::vector<double> samples, double p);

// VmRSS in KiB of this process, or of another one by its pid; -1 when its status cannot be read
// (the process is gone).
long rss_kib(pid_t pid = 0);

// CPU time (user + system) of the whole process, and of one thread's CPU-time clock
// (pthread_getcpuclockid), in nanoseconds; -1 on failure.
int64_t process_cpu_ns();
int64_t thread_cpu_ns(clockid_t clock);
// The calling thread's own CPU-time clock.
clockid_t this_thread_cpu_clock();

}  // namespace gmbench
