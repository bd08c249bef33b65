// gm_bench_rig: how quickly and how lightly the wing module keeps LV1 and a WING in step. Runs
// the built module in this process against wingsim on a loopback address of its own and prints,
// each beside its goal: LV1 -> desk and desk -> LV1 latency, idle CPU with metering on, a
// 64-channel burst, and the module's resident memory.
//
// Usage: gm_bench_rig [--log]; --log also prints the module's last log lines.
// Exit status: 0 when the run completed, whether or not every goal was met (it measures, it does
// not judge); 1 with a message on stderr when the rig could not be built; 2 for a bad argument.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "measure.h"
#include "rig.h"

namespace {

using namespace gmbench;

constexpr int kLv1Sets = 320;
constexpr int kDeskChanges = 200;
constexpr int kDeskChannels = 24;  // desk changes go to the local inputs, LV1 channels 1-24
constexpr int kIdleMs = 10000;
constexpr int kBurstValues = 5;
constexpr int kWaitMs = 1000;  // a value not seen by then counts as lost
constexpr int kQuietMs = 600;  // past the module's echo window and its own-set confirmation
constexpr int kBurstSettleMs = 1500;

constexpr double kLv1P99GoalMs = 1.0;
constexpr double kDeskP99GoalMs = 25.0;  // the 20 ms watch cycle + 5 ms
constexpr double kIdleCpuGoalPct = 1.0;

// Gains that lie on every patched group's grid (the local inputs step 2.5 dB from -2.5 to 45,
// the AES50 inputs 0.5 dB from -3 to 45.5), so the desk keeps a value exactly as it was sent.
constexpr int kGridSteps = 20;
constexpr int kZeroDb = 1;
double grid_db(int i) {
  return -2.5 + 2.5 * i;
}
// Another grid value than `from`; `salt` spreads the steps.
int next_index(int from, int salt) {
  return (from + 1 + (salt * 37) % (kGridSteps - 1)) % kGridSteps;
}

void sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
// A pause of random length between min_ms and max_ms, to the microsecond, so that successive
// changes meet the module's 20 ms watch cycle (and every other timer) at any phase.
void pause_between(std::mt19937& rng, int min_ms, int max_ms) {
  std::uniform_int_distribution<int> us(min_ms * 1000, max_ms * 1000);
  std::this_thread::sleep_for(std::chrono::microseconds(us(rng)));
}
double ms_since(int64_t t0, int64_t t1) {
  return static_cast<double>(t1 - t0) / 1e6;
}

// The desk's gain of every channel, as a grid index, as the bench last changed it.
struct DeskModel {
  int idx[kChannels];
  DeskModel() {
    for (int& i : idx) i = kZeroDb;
  }
};

struct Latency {
  std::vector<double> ms;
  int lost = 0;
};

// LV1 turns one strip after another, at a knob's pace.
Latency lv1_to_desk(Rig& rig, DeskModel& model) {
  Latency out;
  std::mt19937 rng(1);
  for (int i = 0; i < kLv1Sets; ++i) {
    const int ch = i % kChannels;
    model.idx[ch] = next_index(model.idx[ch], i);
    const double db = grid_db(model.idx[ch]);
    const int64_t t0 = now_ns();
    rig.host().turn_gain(rig.module(), ch, db);
    const int64_t t1 = rig.observer().wait_value(rig.channel(ch).gain_hash, db, t0, kWaitMs);
    if (t1 < 0) {
      ++out.lost;
    } else {
      out.ms.push_back(ms_since(t0, t1));
    }
    pause_between(rng, 2, 12);
  }
  return out;
}

// The person at the desk turns the local inputs' gains one after another.
Latency desk_to_lv1(Rig& rig, DeskModel& model) {
  Latency out;
  std::mt19937 rng(2);
  char line[96];
  for (int i = 0; i < kDeskChanges; ++i) {
    const int ch = i % kDeskChannels;
    const int idx = next_index(model.idx[ch], i + 11);
    const double db = grid_db(idx);
    std::snprintf(line, sizeof line, "set %s %.1f", rig.channel(ch).gain_path.c_str(), db);
    const int64_t t0 = now_ns();
    rig.desk().cmd(line);
    if (!rig.desk().ok()) {
      ++out.lost;
      continue;
    }
    model.idx[ch] = idx;
    const int64_t t1 = rig.host().wait_live_gain(ch, db, t0, kWaitMs);
    if (t1 < 0) {
      ++out.lost;
    } else {
      out.ms.push_back(ms_since(t0, t1));
    }
    pause_between(rng, 5, 45);
  }
  return out;
}

struct Idle {
  double cpu_pct = 0;
  double seconds = 0;
  long frames = -1;  // meter frames the module counted meanwhile
  bool metering = false;
};

// The module's threads' CPU while the bench's own threads sleep: the process's CPU time less
// this thread's and the observer's.
Idle idle_cpu(Rig& rig) {
  Idle out;
  GmConsoleStatus st{};
  const long frames0 = rig.read_status(st) ? static_cast<long>(st.meter_frames) : -1;
  const clockid_t self = this_thread_cpu_clock();
  const clockid_t observer = rig.observer().cpu_clock();
  const int64_t own0 = thread_cpu_ns(self) + thread_cpu_ns(observer);
  const int64_t cpu0 = process_cpu_ns();
  const int64_t wall0 = now_ns();
  sleep_ms(kIdleMs);
  const int64_t wall1 = now_ns();
  const int64_t cpu1 = process_cpu_ns();
  const int64_t own1 = thread_cpu_ns(self) + thread_cpu_ns(observer);
  const double module_ns = static_cast<double>((cpu1 - cpu0) - (own1 - own0));
  out.seconds = static_cast<double>(wall1 - wall0) / 1e9;
  out.cpu_pct = 100.0 * module_ns / static_cast<double>(wall1 - wall0);
  if (rig.read_status(st) && frames0 >= 0) {
    out.frames = static_cast<long>(st.meter_frames) - frames0;
    out.metering = st.metering == 1;
  }
  return out;
}

struct Burst {
  int sets = 0;
  double send_ms = 0;
  long echoes = 0;
  std::vector<std::string> wrong_desk;  // one line per channel the desk holds otherwise
  int wrong_lv1 = 0;
};

// Every channel gets several values back to back, as fast as LV1's calls return; after the
// module has settled, each channel's desk value and LV1 strip must hold LV1's last value.
Burst burst(Rig& rig, DeskModel& model) {
  Burst out;
  const long echoes0 = rig.observer().pushes();
  const int64_t t0 = now_ns();
  for (int ch = 0; ch < kChannels; ++ch) {
    const int from = model.idx[ch];
    for (int k = 1; k <= kBurstValues; ++k) {
      model.idx[ch] = (from + 7 * k) % kGridSteps;
      rig.host().turn_gain(rig.module(), ch, grid_db(model.idx[ch]));
      ++out.sets;
    }
  }
  out.send_ms = ms_since(t0, now_ns());
  sleep_ms(kBurstSettleMs);
  out.echoes = rig.observer().pushes() - echoes0;
  char line[128];
  for (int ch = 0; ch < kChannels; ++ch) {
    const double want = grid_db(model.idx[ch]);
    const double desk = rig.desk().number(rig.channel(ch).gain_path);
    if (!(std::fabs(desk - want) < 0.01)) {
      std::snprintf(line, sizeof line, "LV1 ch %d (%s %d): desk %.1f dB, LV1 %.1f dB", ch + 1,
                    rig.channel(ch).group.c_str(), rig.channel(ch).input, desk, want);
      out.wrong_desk.push_back(line);
    }
    if (!(std::fabs(rig.host().strip_gain(ch) - want) < 0.01)) ++out.wrong_lv1;
  }
  return out;
}

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

// The goal is p99 < goal_ms, or p99 <= goal_ms when `within`.
void print_latency(const char* what, const Latency& l, double goal_ms, bool within,
                   const char* goal) {
  const double p50 = percentile(l.ms, 50), p99 = percentile(l.ms, 99);
  const bool met = !l.ms.empty() && l.lost == 0 && (within ? p99 <= goal_ms : p99 < goal_ms);
  std::printf("  %-40s p50 %7.3f ms  p99 %7.3f ms   %-14s %s\n", what, p50, p99, goal,
              verdict(met));
  std::printf("  %-40s %zu measured, %d lost (not seen within %d ms), max %.3f ms\n", "",
              l.ms.size(), l.lost, kWaitMs, percentile(l.ms, 100));
}

void print_report(Rig& rig, const Latency& up, const Latency& down, const Idle& idle,
                  const Burst& b) {
  std::printf("\n  %-40s %-31s %-14s %s\n", "figure", "measured", "goal", "");
  print_latency("LV1 -> desk (set to the desk's push)", up, kLv1P99GoalMs, false, "p99 < 1 ms");
  print_latency("desk -> LV1 (desk change to LV1 push)", down, kDeskP99GoalMs, true,
                "p99 <= 25 ms");
  char text[64];
  std::snprintf(text, sizeof text, "%.3f %% of one core", idle.cpu_pct);
  std::printf("  %-40s %-31s %-14s %s\n", "idle CPU, metering on", text, "< 1 %",
              verdict(idle.cpu_pct < kIdleCpuGoalPct && idle.metering));
  std::printf("  %-40s over %.1f s, %ld meter frames taken, metering %s\n", "", idle.seconds,
              idle.frames, idle.metering ? "on" : "OFF");
  std::snprintf(text, sizeof text, "%zu of %d", b.wrong_desk.size(), kChannels);
  std::printf("  %-40s %-31s %-14s %s\n", "burst: channels wrong at the desk", text, "0",
              verdict(b.wrong_desk.empty()));
  std::printf("  %-40s %d sets (%d per channel) sent in %.2f ms, %ld desk pushes\n", "", b.sets,
              kBurstValues, b.send_ms, b.echoes);
  std::printf("  %-40s %d of %d\n", "burst: LV1 strips left on another value", b.wrong_lv1,
              kChannels);
  for (const std::string& w : b.wrong_desk) std::printf("  %-40s %s\n", "", w.c_str());
  const long rss = rig.rss_connected_kib() - rig.rss_before_kib();
  std::snprintf(text, sizeof text, "%ld KiB", rss);
  std::printf("  %-40s %-31s %-14s\n", "module resident memory (VmRSS delta)", text, "-");
  std::printf("  %-40s %ld KiB before loading, %ld KiB connected\n", "", rig.rss_before_kib(),
              rig.rss_connected_kib());
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool show_log = argc > 1 && std::string(argv[1]) == "--log";
  if (argc > 1 && !show_log) {
    std::fprintf(stderr, "usage: gm_bench_rig [--log]  (--log: the module's last log lines too)\n");
    return 2;
  }
  Rig rig;
  std::string err;
  std::printf("gm_bench_rig: starting the rig (wingsim, the wing module, 64 channels)...\n");
  if (!rig.up(err)) {
    std::fprintf(stderr, "gm_bench_rig: the rig could not start: %s\n", err.c_str());
    return 1;
  }
  GmConsoleStatus st{};
  rig.read_status(st);
  std::printf("desk %s (loopback), watch=%u, connected %u, metering %u\n", st.desk_ip, st.watch,
              st.connected, st.metering);
  DeskModel model;
  std::printf("LV1 -> desk: %d sets...\n", kLv1Sets);
  const Latency up = lv1_to_desk(rig, model);
  sleep_ms(kQuietMs);
  std::printf("desk -> LV1: %d desk changes...\n", kDeskChanges);
  const Latency down = desk_to_lv1(rig, model);
  sleep_ms(kQuietMs);
  std::printf("idle: %d s...\n", kIdleMs / 1000);
  const Idle idle = idle_cpu(rig);
  std::printf("burst: %d channels x %d values...\n", kChannels, kBurstValues);
  const Burst b = burst(rig, model);
  print_report(rig, up, down, idle, b);
  if (show_log) std::printf("\nthe module's last log lines:\n%s", rig.host().recent_log().c_str());
  rig.down();
  return 0;
}
