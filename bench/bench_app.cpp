// gm_bench_app: the Gainmesh app as a user runs it, in a temporary home: how long a full install
// into LV1's IO Modules folder takes, and what the running app costs while it sits in the menu bar
// with the Setup window hidden and with it shown (offscreen): CPU as a share of one core, and
// resident memory. See bench/README.md.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "drive/card_bundles.h"
#include "drive/child.h"
#include "measure.h"

namespace {

constexpr int kInstallRuns = 10;
constexpr int kSettleMs = 4000;
constexpr int kIdleSeconds = 15;
constexpr double kHiddenGoal = 0.5;  // % of one core
constexpr double kShownGoal = 2.0;

const std::string kApp = GM_APP_EXE;

// utime + stime of a process, in clock ticks; -1 when it is gone.
long long cpu_ticks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::atoll(f.c_str());
    if (i == 15) stime = std::atoll(f.c_str());
  }
  return utime + stime;
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
  const long long before = cpu_ticks(pid);
  const int64_t start = gmbench::now_ns();
  std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
  const long long after = cpu_ticks(pid);
  const double wall_s = static_cast<double>(gmbench::now_ns() - start) / 1e9;
  r.rss = gmbench::rss_kib(pid);
  if (before >= 0 && after >= before) {
    r.cpu_percent = 100.0 * static_cast<double>(after - before) /
                    static_cast<double>(sysconf(_SC_CLK_TCK)) / wall_s;
  }
  kill(pid, SIGTERM);
  if (rig::wait_child(pid, 5000) == -1) rig::kill_child(pid);
  if (r.rss < 0 || r.cpu_percent < 0)
    throw std::runtime_error("the app ended before it was measured");
  return r;
}

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

}  // namespace

int main() {
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
    std::printf(
        "app idle, Setup window hidden:  CPU %.2f %% of one core  RSS %ld KiB  goal < "
        "%.1f %%: %s\n",
        hidden.cpu_percent, hidden.rss, kHiddenGoal,
        verdict(hidden.cpu_percent >= 0 && hidden.cpu_percent < kHiddenGoal));
    std::printf(
        "app idle, Setup window shown:   CPU %.2f %% of one core  RSS %ld KiB  goal < "
        "%.1f %%: %s\n",
        shown.cpu_percent, shown.rss, kShownGoal,
        verdict(shown.cpu_percent >= 0 && shown.cpu_percent < kShownGoal));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gm_bench_app: %s\n", e.what());
    rc = 1;
  }
  std::filesystem::remove_all(home);
  return rc;
}
