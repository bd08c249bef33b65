// gm_bench_scan: how fast the app's console scan finds a WING on the same network, and how long
// a scan takes when nothing answers. Runs in a namespace lab of its own (needs root): a virtual
// WING in one host namespace, the scan in the scanner namespace. See bench/README.md.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "discovery.h"
#include "drive/netns_lab.h"
#include "measure.h"

namespace {

constexpr int kFindRuns = 50;
constexpr int kSilentRuns = 5;
constexpr double kFindGoalMs = 50;

double ms_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// In the scanner namespace: the milliseconds from the first "WING?" to the found WING, one line
// per scan ("-" when it was not found).
std::string time_finds() {
  std::ostringstream out;
  for (int i = 0; i < kFindRuns; ++i) {
    gm::ScanSockets s;
    if (!gm::open_scan_sockets(&s)) return "no socket\n";
    gm::open_interface_sockets(&s);
    gm::Found found;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = gm::ask_wing(s, &found);
    const double ms = ms_since(start);
    gm::close_scan_sockets(&s);
    if (ok)
      out << ms << "\n";
    else
      out << "-\n";
  }
  return out.str();
}

// In the scanner namespace: the milliseconds of whole scans that find nothing.
std::string time_silent_scans() {
  std::ostringstream out;
  for (int i = 0; i < kSilentRuns; ++i) {
    gm::Found found[2];
    const auto start = std::chrono::steady_clock::now();
    gm::scan_consoles(found);
    out << ms_since(start) << (found[0].found || found[1].found ? " found\n" : "\n");
  }
  return out.str();
}

std::vector<double> numbers(const std::string& text, int* missing) {
  std::vector<double> v;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '-' || line.find("found") != std::string::npos) {
      ++*missing;
    } else {
      v.push_back(std::atof(line.c_str()));
    }
  }
  return v;
}

}  // namespace

int main() {
  // The scan reads no real home: no LV1 status block, no installed bundle, no hint written.
  char home[] = "/tmp/gm-bench-scan-XXXXXX";
  if (!mkdtemp(home)) return 1;
  setenv("GAINMESH_HOME", home, 1);
  unsetenv("GAINMESH_TEST_NO_BROADCAST");
  rig::NetnsLab lab(std::vector<int>{0});
  if (!lab.ok()) {
    std::fprintf(stderr, "gm_bench_scan: no network namespace lab: %s\n", lab.why().c_str());
    return 1;
  }
  const pid_t desk = lab.spawn_desk(0, GM_WINGSIM, std::string(home) + "/wingsim.sock", {});
  if (desk < 0) {
    std::fprintf(stderr, "gm_bench_scan: wingsim did not start\n");
    return 1;
  }
  std::string finds, silent, err;
  if (!rig::run_in_netns(lab.scanner(), time_finds, &finds, &err)) {
    std::fprintf(stderr, "gm_bench_scan: %s\n", err.c_str());
    return 1;
  }
  lab.stop(desk, 3000);
  if (!rig::run_in_netns(lab.scanner(), time_silent_scans, &silent, &err)) {
    std::fprintf(stderr, "gm_bench_scan: %s\n", err.c_str());
    return 1;
  }
  int lost = 0, stray = 0;
  const std::vector<double> f = numbers(finds, &lost);
  const std::vector<double> s = numbers(silent, &stray);
  const double p99 = gmbench::percentile(f, 99);
  std::printf(
      "first WING? to found, one desk:  p50 %.2f ms  p99 %.2f ms  max %.2f ms  (%zu scans, "
      "%d not found)  goal p99 < %.0f ms: %s\n",
      gmbench::percentile(f, 50), p99, gmbench::percentile(f, 100), f.size(), lost, kFindGoalMs,
      lost == 0 && p99 < kFindGoalMs ? "met" : "MISSED");
  std::printf(
      "whole scan, nothing answers:     p50 %.0f ms  max %.0f ms  (%zu scans, %d found "
      "something)  about 2 s expected\n",
      gmbench::percentile(s, 50), gmbench::percentile(s, 100), s.size(), stray);
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return 0;
}
