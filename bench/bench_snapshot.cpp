// gm_bench_snapshot: how long the app core takes to build the dashboard's page document
// (gm_snapshot) while LV1 runs with Gainmesh installed and the wing module connected to a desk.
// Builds the rig in a temporary home (no root, no network namespace, loopback only) and times
// 1000 calls in this process; `--crowd N` times them again with N extra idle processes running,
// and `--page` also prints the last page. See bench/README.md.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "api.h"
#include "crowd.h"
#include "drive/card_bundles.h"
#include "drive/child.h"
#include "drive/lv1host_runner.h"
#include "drive/wingsim_runner.h"
#include "lv1.h"
#include "measure.h"
#include "platform.h"
#include "util.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWarmupCalls = 20;
constexpr int kCalls = 1000;
constexpr double kGoalMs = 2.0;
// With hundreds of extra processes the page costs about what it costs on a quiet machine.
constexpr double kCrowdedGoalMs = 0.3;
constexpr double kCrowdedRatioGoal = 1.3;
constexpr int kOtherLv1WaitMs = 60000;
constexpr int kConnectWaitMs = 30000;
constexpr int kInstallWaitMs = 60000;

// A desk address of this run's own in 127.78.0.0/16.
std::string desk_address() {
  const int pid = static_cast<int>(getpid());
  return "127.78." + std::to_string(1 + (pid / 250) % 250) + "." + std::to_string(2 + pid % 250);
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The last `lines` lines of a text.
std::string tail(const std::string& text, int lines) {
  size_t at = text.size();
  for (int n = 0; n <= lines && at != std::string::npos && at > 0; ++n)
    at = text.rfind('\n', at - 1);
  return at == std::string::npos ? text : text.substr(at + 1);
}

template <typename Pred>
bool wait_until(Pred pred, int timeout_ms) {
  for (int waited = 0; !pred(); waited += 50) {
    if (waited >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The "status" of the page's first console card, or "" when the page has no card.
std::string first_card_status(const std::string& page) {
  const size_t cards = page.find("\"cards\":[");
  if (cards == std::string::npos) return "";
  const std::string key = "\"status\":\"";
  const size_t at = page.find(key, cards);
  if (at == std::string::npos) return "";
  const size_t from = at + key.size();
  const size_t end = page.find('"', from);
  return end == std::string::npos ? "" : page.substr(from, end - from);
}

// The temporary home that stands in for the user's: LV1's bundle under its Applications folder,
// LV1's IO Modules folder with Waves' card bundles, and Gainmesh installed there by the built
// app's own --install. Removed when the object goes.
class BenchHome {
 public:
  BenchHome() {
    char tmpl[] = "/tmp/gm-bench-snapshot-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("cannot make a temporary home under /tmp");
    path_ = tmpl;
    setenv("GAINMESH_HOME", path_.c_str(), 1);
    setenv("HOME", path_.c_str(), 1);
    setenv("GAINMESH_IO_MODULES", iom().c_str(), 1);
  }
  ~BenchHome() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  BenchHome(const BenchHome&) = delete;
  BenchHome& operator=(const BenchHome&) = delete;

  const std::string& path() const { return path_; }
  std::string iom() const { return path_ + "/IO Modules"; }
  std::string lv1_app() const { return path_ + gm::kLv1AppPath; }
  std::string log_path() const { return path_ + "/Library/Logs/Gainmesh/gainmesh.log"; }

  void install_lv1() const {
    fs::create_directories(lv1_app());
    fs::copy(GM_LV1_APP, lv1_app(), fs::copy_options::recursive);
  }

  void install_gainmesh(const std::string& desk_ip) const {
    for (const char* card : {rig::kWingCardBundle, rig::kXwsgCardBundle, rig::kDn32CardBundle}) {
      rig::lay_out_card_bundle(iom(), card);
    }
    rig::ChildSpec spec;
    spec.argv = {GM_APP "/Contents/MacOS/Gainmesh", "--install"};
    spec.stdout_path = path_ + "/install.out";
    spec.stderr_path = path_ + "/install.err";
    pid_t pid = rig::spawn_child(spec);
    const int status = rig::wait_child(pid, kInstallWaitMs);
    rig::kill_child(pid);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("Gainmesh --install failed: " + file_text(spec.stdout_path) +
                               file_text(spec.stderr_path));
    }
    if (!gm::cfg_set_line(gm::con_cfg(0), "ip", desk_ip)) {
      throw std::runtime_error("cannot write ip= into " + gm::con_cfg(0));
    }
  }

 private:
  std::string path_;
};

// The desk, LV1 with the loader and the wing module, and the app core pointed at them.
struct Rig {
  std::unique_ptr<BenchHome> home;
  std::unique_ptr<rig::WingSim> desk;
  std::unique_ptr<rig::Lv1Host> lv1;
};

void build_rig(Rig& r, int argc, char** argv) {
  r.home = std::make_unique<BenchHome>();
  const std::string ip = desk_address();
  r.home->install_lv1();
  r.home->install_gainmesh(ip);

  rig::WingSim::Options desk;
  desk.program = GM_WINGSIM;
  desk.ip = ip;
  desk.extra = {"--quiet"};
  r.desk = std::make_unique<rig::WingSim>(desk);

  rig::Lv1Host::Options lv1;
  lv1.executable = r.home->lv1_app() + "/Contents/MacOS/eMotion LV1";
  lv1.leak_check = false;  // the loader unloads modules with dlclose
  lv1.stdout_path = r.home->path() + "/lv1host.out";
  lv1.stderr_path = r.home->path() + "/lv1host.err";
  r.lv1 = std::make_unique<rig::Lv1Host>(lv1);

  gm_init(GM_APP, argc, argv);
  std::string status;
  if (!wait_until([&] { return (status = first_card_status(gm_snapshot())) == "Connected"; },
                  kConnectWaitMs)) {
    throw std::runtime_error("the WING card did not say Connected within 30 s (it says '" + status +
                             "'); the module's log ends:\n" +
                             tail(file_text(r.home->log_path()), 20));
  }
  // The app scans once at start; with broadcasts off this reads the running module's desk.
  gm_scan();
}

// Whether the LV1 the core finds is the rig's own.
bool finds_our_lv1(const Rig& r) {
  return gm::lv1_pid() == static_cast<uint32_t>(r.lv1->pid());
}

// One timed run of kCalls page documents: its percentiles in ms, and the last page's size.
struct Timing {
  double p50 = 0, p99 = 0, max = 0;
  size_t bytes = 0;
  size_t processes = 0;
};

Timing time_snapshots() {
  for (int i = 0; i < kWarmupCalls; ++i) gm_snapshot();
  std::vector<double> ms;
  ms.reserve(kCalls);
  Timing t;
  for (int i = 0; i < kCalls; ++i) {
    const int64_t start = gmbench::now_ns();
    const char* page = gm_snapshot();
    ms.push_back(static_cast<double>(gmbench::now_ns() - start) / 1e6);
    t.bytes = std::strlen(page);
  }
  t.p50 = gmbench::percentile(ms, 50);
  t.p99 = gmbench::percentile(ms, 99);
  t.max = gmbench::percentile(ms, 100);
  t.processes = gm::process_ids().size();
  return t;
}

void print_timing(const char* machine, const Timing& t) {
  std::printf(
      "  %-8s p50 %.3f ms  p99 %.3f ms  max %.3f ms  (%d calls, page %zu bytes, %zu "
      "processes)\n",
      machine, t.p50, t.p99, t.max, kCalls, t.bytes, t.processes);
}

}  // namespace

int main(int argc, char** argv) {
  const int crowd = gmbench::crowd_argument(argc, argv);
  if (crowd < 0) {
    std::fprintf(stderr, "usage: gm_bench_snapshot [--crowd N (1-5000)] [--page]\n");
    return 2;
  }
  // Nothing this process or its children start may broadcast; the desk is on loopback.
  setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
  // The core finds LV1 as the first process of that name: another one would be measured instead.
  if (!wait_until([] { return !gm::lv1_running(); }, kOtherLv1WaitMs)) {
    std::fprintf(stderr, "gm_bench_snapshot: another eMotion LV1 (pid %u) kept running for 60 s\n",
                 gm::lv1_pid());
    return 1;
  }
  Rig r;
  try {
    build_rig(r, argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gm_bench_snapshot: the rig could not be built: %s\n", e.what());
    return 1;
  }
  if (!finds_our_lv1(r)) {
    std::fprintf(stderr, "gm_bench_snapshot: the core finds another eMotion LV1 (pid %u)\n",
                 gm::lv1_pid());
    return 1;
  }

  std::printf("gm_snapshot, LV1 running, WING connected:\n");
  const Timing quiet = time_snapshots();
  print_timing("quiet", quiet);
  std::printf("  goal p50 < %.0f ms: %s\n", kGoalMs, quiet.p50 < kGoalMs ? "met" : "MISSED");
  if (crowd > 0) {
    Timing crowded;
    {
      gmbench::Crowd extra(crowd);
      crowded = time_snapshots();
    }
    print_timing("crowded", crowded);
    const double ratio = crowded.p50 / quiet.p50;
    const bool met = crowded.p50 < kCrowdedGoalMs && ratio <= kCrowdedRatioGoal;
    std::printf("  crowded / quiet p50: %s  goal p50 < %.1f ms and <= %.1f x quiet: %s\n",
                gmbench::ratio_text(quiet.p50, crowded.p50).c_str(), kCrowdedGoalMs,
                kCrowdedRatioGoal, met ? "met" : "MISSED");
  }
  const std::string page = gm_snapshot();
  const std::string last = first_card_status(page);
  const bool ours = finds_our_lv1(r);
  if (last != "Connected" || !ours) {
    std::printf("note: after the timed calls the WING card says '%s'%s\n", last.c_str(),
                ours ? "" : " and the core finds another eMotion LV1");
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--page") == 0) std::printf("%s\n", page.c_str());
  }
  r.lv1->quit(10000);
  return 0;
}
