// gm_bench_app: the Gainmesh app as a user runs it, in a temporary home: how long a full install
// into LV1's IO Modules folder takes, and what the running app costs while it sits in the menu bar
// with the Setup window hidden and with it shown (offscreen): CPU as a share of one core, and
// resident memory; with `--crowd N` the idle figures again with N extra idle processes running.
// See bench/README.md.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crowd.h"
#include "drive/card_bundles.h"
#include "drive/child.h"
#include "measure.h"

namespace {

constexpr int kInstallRuns = 10;
constexpr int kSettleMs = 4000;
constexpr int kIdleSeconds = 15;
constexpr double kHiddenGoal = 0.5;  // % of one core
constexpr double kShownGoal = 2.0;
// With hundreds of extra processes running, as on a show computer.
constexpr double kCrowdedHiddenGoal = 0.2;
constexpr double kCrowdedShownGoal = 1.0;

const std::string kApp = GM_APP_EXE;

// The CPU time each of a process's threads has run, in nanoseconds, from the scheduler's own
// account (`schedstat`): the clock-tick figures of `stat` are too coarse for a few milliseconds a
// second. Empty when the process is gone.
std::map<std::string, long long> thread_cpu_ns(pid_t pid) {
  std::error_code ec;
  std::map<std::string, long long> out;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "schedstat");
    long long run_ns = 0;
    if (in >> run_ns) out[task.path().filename()] = run_ns;
  }
  return out;
}

// The CPU time the process's threads ran between two readings: a thread that started meanwhile
// counts from zero; one that ended meanwhile takes its time with it. -1 when the process is gone.
long long cpu_ns_between(const std::map<std::string, long long>& before,
                         const std::map<std::string, long long>& after) {
  if (before.empty() || after.empty()) return -1;
  long long total = 0;
  for (const auto& [tid, ns] : after) {
    const auto then = before.find(tid);
    total += ns - (then == before.end() ? 0 : then->second);
  }
  return total;
}

// Runs the app with these arguments to its end; its exit status, or -1.
int run_app(const std::vector<std::string>& args) {
  rig::ChildSpec spec;
  spec.argv = {kApp};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.stdout_path = "/dev/null";
  pid_t pid = rig::spawn_child(spec);
  return rig::wait_child(pid, 120000);
}

struct Idle {
  double cpu_percent = -1;
  long rss = -1;
};

// Starts the app, lets it settle, then measures its CPU over kIdleSeconds and its memory.
Idle measure_idle(const std::vector<std::string>& args) {
  rig::ChildSpec spec;
  spec.argv = {kApp};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.stdout_path = spec.stderr_path = "/dev/null";
  pid_t pid = rig::spawn_child(spec);
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  Idle r;
  const auto before = thread_cpu_ns(pid);
  const int64_t start = gmbench::now_ns();
  std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
  const long long ran = cpu_ns_between(before, thread_cpu_ns(pid));
  const double wall_s = static_cast<double>(gmbench::now_ns() - start) / 1e9;
  r.rss = gmbench::rss_kib(pid);
  if (ran >= 0) r.cpu_percent = 100.0 * static_cast<double>(ran) / 1e9 / wall_s;
  kill(pid, SIGTERM);
  if (rig::wait_child(pid, 5000) == -1) rig::kill_child(pid);
  if (r.rss < 0 || r.cpu_percent < 0)
    throw std::runtime_error("the app ended before it was measured");
  return r;
}

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

void print_idle(const char* window, const char* machine, const Idle& idle, double goal) {
  std::printf(
      "app idle, Setup window %-6s %-8s CPU %.3f %% of one core  RSS %ld KiB  goal < "
      "%.1f %%: %s\n",
      window, machine, idle.cpu_percent, idle.rss, goal,
      verdict(idle.cpu_percent >= 0 && idle.cpu_percent < goal));
}

}  // namespace

int main(int argc, char** argv) {
  const int crowd = gmbench::crowd_argument(argc, argv);
  if (crowd < 0) {
    std::fprintf(stderr, "usage: gm_bench_app [--crowd N (1-5000)]\n");
    return 2;
  }
  char home[] = "/tmp/gm-bench-app-XXXXXX";
  if (!mkdtemp(home)) return 1;
  const std::string h = home;
  // Everything stays in the temporary home: no broadcasts, no update server, no display.
  setenv("GAINMESH_HOME", home, 1);
  setenv("HOME", home, 1);
  setenv("XDG_CONFIG_HOME", (h + "/.config").c_str(), 1);
  setenv("GAINMESH_IO_MODULES", (h + "/IO Modules").c_str(), 1);
  setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
  setenv("GAINMESH_TEST_UPDATE_URL", "https://127.0.0.1:1", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int rc = 0;
  try {
    for (const char* card : {rig::kWingCardBundle, rig::kXwsgCardBundle, rig::kDn32CardBundle}) {
      rig::lay_out_card_bundle(h + "/IO Modules", card);
    }
    std::vector<double> ms;
    for (int i = 0; i < kInstallRuns; ++i) {
      const int64_t start = gmbench::now_ns();
      const int installed = run_app({"--install"});
      ms.push_back(static_cast<double>(gmbench::now_ns() - start) / 1e6);
      if (installed != 0 || (i + 1 < kInstallRuns && run_app({"--remove"}) != 0)) {
        throw std::runtime_error("Gainmesh --install or --remove failed");
      }
    }
    std::printf(
        "full install (Gainmesh --install, a fresh bundle each time):  p50 %.1f ms  max "
        "%.1f ms  (%d runs)\n",
        gmbench::percentile(ms, 50), gmbench::percentile(ms, 100), kInstallRuns);

    const Idle hidden = measure_idle({"--login"});
    const Idle shown = measure_idle({});
    print_idle("hidden:", "quiet", hidden, kHiddenGoal);
    print_idle("shown:", "quiet", shown, kShownGoal);
    if (crowd > 0) {
      Idle crowded_hidden, crowded_shown;
      {
        gmbench::Crowd extra(crowd);
        crowded_hidden = measure_idle({"--login"});
        crowded_shown = measure_idle({});
      }
      print_idle("hidden:", "crowded", crowded_hidden, kCrowdedHiddenGoal);
      print_idle("shown:", "crowded", crowded_shown, kCrowdedShownGoal);
      std::printf("crowded / quiet CPU (%d extra processes): hidden %s  shown %s\n", crowd,
                  gmbench::ratio_text(hidden.cpu_percent, crowded_hidden.cpu_percent).c_str(),
                  gmbench::ratio_text(shown.cpu_percent, crowded_shown.cpu_percent).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gm_bench_app: %s\n", e.what());
    rc = 1;
  }
  std::filesystem::remove_all(home);
  return rc;
}
