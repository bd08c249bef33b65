// gm_bench_tick: how long the running app's event loop stalls while its one-second tick applies a
// staged app update of 60 MiB (unpacking, verifying, swapping the bundle). Each run is a child of
// its own (the updater's timetable is per process) in a fresh temporary home holding a signed
// stage; the child runs the app delegate on the offscreen platform with a 5 ms watchdog timer and
// prints the longest gap between its firings while the apply worked. See bench/README.md.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "api.h"
#include "app.h"
#include "drive/child.h"
#include "measure.h"
#include "platform.h"
#include "updater.h"
#include "util.h"

namespace {

constexpr int kRuns = 5;
constexpr size_t kPayload = size_t(60) << 20;
constexpr double kGoalMs = 50;
const std::string kStaged = "/Library/Application Support/Gainmesh/updates/staged";

void write(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

void run(const std::vector<std::string>& argv, const std::string& out = "/dev/null") {
  rig::ChildSpec spec;
  spec.argv = argv;
  spec.stdout_path = out;
  pid_t pid = rig::spawn_child(spec);
  const int status = rig::wait_child(pid, 300000);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(argv[0] + " failed");
}

// A signed Gainmesh.app.zip of the sample app with a payload that does not compress, in `dir`.
void make_archive(const std::string& dir) {
  const std::string build = dir + "/build";
  std::ifstream in(GM_SOURCE_DIR "/tests/fuzz/seeds/fuzz_unpack_zip/app.zip", std::ios::binary);
  const std::string sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::create_directories(build);
  if (!gm::unpack_zip(sample, build)) throw std::runtime_error("cannot unpack the sample app");
  std::string payload(kPayload, '\0');
  std::mt19937_64 random(7);
  for (size_t i = 0; i + 8 <= payload.size(); i += 8) {
    const uint64_t v = random();
    std::memcpy(&payload[i], &v, 8);
  }
  write(build + "/Gainmesh.app/Contents/Resources/payload", payload);
  if (!gm::zip_folder(build + "/Gainmesh.app", dir + "/Gainmesh.app.zip"))
    throw std::runtime_error("cannot zip the app");
  run({GM_SIGNER, "--key", GM_SOURCE_DIR "/tests/keys/test-release.pem",
       dir + "/Gainmesh.app.zip"});
}

// One apply in this process, whose home is prepared: prints "<stall ms> <apply ms>".
int one(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  gm_init((std::string(getenv("GAINMESH_HOME")) + "/Gainmesh.app").c_str(), argc, argv);
  QApplication qt(argc, argv);
  gmui::App app({QStringLiteral("Gainmesh"), QStringLiteral("--login")});
  QElapsedTimer since, applying;
  qint64 longest = 0;
  bool seen = false;
  const auto report = [&] {
    std::printf("%lld %lld\n", (long long)longest, (long long)applying.elapsed());
    std::fflush(stdout);
    std::_Exit(0);  // the new copy was started; this one would quit now
  };
  QTimer watchdog;
  watchdog.setInterval(5);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    const qint64 gap = since.restart();
    if (app.store().working()) {
      if (!seen) applying.start();
      seen = true;
      longest = std::max(longest, gap);
    } else if (seen) {
      report();
    }
  });
  since.start();
  watchdog.start();
  QTimer::singleShot(120000, [] { std::_Exit(1); });  // LV1 runs, or the apply never came
  qt.exec();  // ends when the applied app asks this one to quit
  if (seen) report();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--one") == 0) return one(argc, argv);
  char root[] = "/tmp/gm-bench-tick-XXXXXX";
  if (!mkdtemp(root)) return 1;
  const std::string r = root;
  int rc = 0;
  try {
    make_archive(r);
    std::vector<double> stalls, applies;
    for (int i = 0; i < kRuns; ++i) {
      const std::string home = r + "/home" + std::to_string(i);
      write(home + "/Gainmesh.app/Contents/MacOS/Gainmesh", "old");
      std::filesystem::create_directories(home + kStaged);
      for (const char* f : {"/Gainmesh.app.zip", "/Gainmesh.app.zip.sig"})
        std::filesystem::copy_file(r + f, home + kStaged + f);
      write(home + kStaged + "/ready", "3.3.0");
      write(home + "/Library/Preferences/org.ambervale.gainmesh.conf",
            "[General]\npermissionsShown=true\n");
      setenv("GAINMESH_HOME", home.c_str(), 1);
      setenv("HOME", home.c_str(), 1);
      setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
      setenv("GAINMESH_TEST_UPDATE_URL", "https://127.0.0.1:1", 1);
      run({"/proc/self/exe", "--one"}, home + "/figures");
      std::ifstream figures(home + "/figures");
      double stall = -1, apply = -1;
      if (!(figures >> stall >> apply)) throw std::runtime_error("a run printed no figures");
      stalls.push_back(stall);
      applies.push_back(apply);
    }
    const double worst = gmbench::percentile(stalls, 100);
    std::printf(
        "longest event-loop stall while the tick applies a 60 MiB app:  p50 %.0f ms  max %.0f ms  "
        "goal < %.0f ms: %s\n",
        gmbench::percentile(stalls, 50), worst, kGoalMs, worst < kGoalMs ? "met" : "MISSED");
    std::printf("the apply itself (on the work queue):  p50 %.0f ms  max %.0f ms  (%d runs)\n",
                gmbench::percentile(applies, 50), gmbench::percentile(applies, 100), kRuns);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gm_bench_tick: %s\n", e.what());
    rc = 1;
  }
  std::filesystem::remove_all(root);
  return rc;
}
