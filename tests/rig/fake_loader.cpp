// A stand-in for the Gainmesh loader, used to test lv1host on its own. Built as a shared library
// that lv1host loads as Gainmesh.bundle/Contents/MacOS/Gainmesh.
//
// It writes a line to <GAINMESH_HOME>/fake-loader.log for a gain turned and a rack change, with
// LV1's gain structure read back at the moment of the call, and answers capability queries from a
// table. Its own thread plays a console module: it follows the lines a test appends to
// <GAINMESH_HOME>/fake-loader.in and calls LV1's services from there:
//   caps <type> <ch> <preamp> <min> <max> <step>
//                                     what the capability queries answer from now on
//   changed <type>                    channel_type_state_changed with the type's device MAC
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "lv1_io.h"

namespace {

struct Caps {
  int preamp = 1;
  double min = -6, max = 60, step = 0.5;
};

const Lv1HostApi* g_host = nullptr;
std::mutex g_mu;  // the caps table and the log file
Caps g_caps[2][64];
std::atomic<long> g_queries{0};
std::atomic<bool> g_stop{false};
std::thread g_thread;

std::string home_file(const char* name) {
  const char* home = std::getenv("GAINMESH_HOME");
  return std::string(home ? home : "/tmp") + "/" + name;
}

void log_line(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mu);
  const int fd = open(home_file("fake-loader.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  const std::string line = text + "\n";
  [[maybe_unused]] ssize_t n = write(fd, line.data(), line.size());
  close(fd);
}

std::string num(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

bool valid(int type, int ch) {
  return type >= 0 && type < 2 && ch >= 0 && ch < 64;
}

// The gain structure's values of a strip, as the module would read them.
std::string iface_values(int type, int ch) {
  WingGainIface* iface = g_host->gain_iface(g_host->ctx, type);
  if (!iface) return "iface=null";
  return "iface=" + num(iface->gain[ch]) + "/" + std::to_string(iface->phantom[ch]);
}

std::string mac_text(const uint8_t* m) {
  char buf[24];
  snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

void run_trigger(const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  int type = -1, ch = -1;
  in >> cmd >> type;
  if (cmd == "changed") {
    uint8_t mac[6] = {};
    g_host->device_mac(g_host->ctx, type, mac);
    auto* table = static_cast<void**>(g_host->common_callback(g_host->ctx));
    auto fn = reinterpret_cast<GmChannelTypeStateChanged>(
        table[GM_COMMON_SLOT_CHANNEL_TYPE_STATE_CHANGED]);
    const long before = g_queries.load();
    fn(table, mac);
    return log_line(line + " queries=" + std::to_string(g_queries.load() - before));
  }
  in >> ch;
  if (!valid(type, ch)) return log_line("bad trigger: " + line);
  if (cmd == "caps") {
    Caps c;
    in >> c.preamp >> c.min >> c.max >> c.step;
    std::lock_guard<std::mutex> lock(g_mu);
    g_caps[type][ch] = c;
  }
  log_line("done " + line);
}

void trigger_main() {
  off_t offset = 0;
  std::string pending;
  while (!g_stop.load()) {
    const int fd = open(home_file("fake-loader.in").c_str(), O_RDONLY);
    char buf[4096];
    ssize_t n;
    while (fd >= 0 && (n = pread(fd, buf, sizeof buf, offset)) > 0) {
      offset += n;
      pending.append(buf, static_cast<size_t>(n));
    }
    if (fd >= 0) close(fd);
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
      run_trigger(pending.substr(0, nl));
    }
    usleep(10000);
  }
}

void set_gain(int type, int ch, double gain_db) {
  log_line("set_gain " + std::to_string(type) + " " + std::to_string(ch) + " " + num(gain_db) +
           " " + iface_values(type, ch));
}

void set_phantom(int, int, int) {}

Caps caps_of(int type, int ch) {
  std::lock_guard<std::mutex> lock(g_mu);
  return valid(type, ch) ? g_caps[type][ch] : Caps{0, 0, 0, 0};
}

int has_preamp(int type, int ch) {
  ++g_queries;
  return caps_of(type, ch).preamp;
}
double min_db(int type, int ch) {
  return caps_of(type, ch).min;
}
double max_db(int type, int ch) {
  return caps_of(type, ch).max;
}
double step_db(int type, int ch) {
  return caps_of(type, ch).step;
}

void recall(int, const double*, const int*, const int*) {}

void rack_changed() {
  for (int t = 0; t < 2; ++t) {
    uint8_t mac[6] = {};
    const bool have = g_host->device_mac(g_host->ctx, t, mac);
    log_line("rack " + std::to_string(t) +
             " in=" + std::to_string(g_host->card_in_slot(g_host->ctx, t)) +
             " kind=" + std::to_string(g_host->card_kind(g_host->ctx, t)) +
             " extra=" + std::to_string(g_host->extra_cards(g_host->ctx, t)) +
             " mac=" + (have ? mac_text(mac) : "none") + " " + iface_values(t, 0));
  }
}

void unload() {
  g_stop = true;
  if (g_thread.joinable()) g_thread.join();
  log_line("unload");
}

const Lv1IoModule kTable = {LV1_IO_ABI, set_gain, set_phantom, has_preamp,   min_db,
                            max_db,     step_db,  recall,      rack_changed, unload};

}  // namespace

extern "C" __attribute__((visibility("default"))) const Lv1IoModule* lv1_io_module_entry(
    const Lv1HostApi* host) {
  if (!host || host->abi != LV1_IO_ABI) return nullptr;
  g_host = host;
  log_line("entry");
  g_thread = std::thread(trigger_main);
  return &kTable;
}
