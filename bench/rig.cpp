// Building the benchmark rig up and taking it down.
#include "rig.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "measure.h"

namespace gmbench {
namespace {

constexpr int kSeedTimeoutMs = 30000;
constexpr int kMeterTimeoutMs = 10000;
constexpr int kSettleMs = 1000;
constexpr int kAddressTries = 3;

// LV1 channels 1-24 on the local inputs, 25-56 on the 32-input stage box on AES50 port A,
// 57-64 on port B, whose inputs get head amps at the desk before the module connects. The
// SoundGrid card in the module slot carries LV1's channels (MOD:n is LV1 channel n).
constexpr const char* kPatch = "MOD:1-24=LCL:1-24,MOD:25-56=A:1-32,MOD:57-64=B:1-8";
const char* const kDeskSetup[] = {
    "set /io/in/B/1-8/$ha 3",
    "level LCL 1-24 -18",
    "level A 1-32 -24",
    "level B 1-8 -30",
};

void sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

DeskChannel desk_channel_of(int ch) {
  DeskChannel c;
  c.group = ch < 24 ? "LCL" : ch < 56 ? "A" : "B";
  c.input = ch < 24 ? ch + 1 : ch < 56 ? ch - 23 : ch - 55;
  c.gain_path = "/io/in/" + c.group + "/" + std::to_string(c.input) + "/g";
  return c;
}

// A loopback address of this run's own; later tries move to another one.
std::string loopback_for(int attempt) {
  const unsigned pid = static_cast<unsigned>(getpid());
  return "127.77." + std::to_string(1 + (pid / 250 + 83 * attempt) % 250) + "." +
         std::to_string(2 + pid % 250);
}

std::wstring widen(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

template <typename Pred>
bool wait_until(Pred pred, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    sleep_ms(20);
  }
  return true;
}

}  // namespace

bool Rig::up(std::string& err) {
  if (!make_home(err) || !start_desk(err)) return false;
  if (!observer_.start(ip_, err)) return false;
  host_ = std::make_unique<BenchHost>(widen(home_ + "/wing.cfg"));
  rss_before_ = rss_kib();
  if (!start_module(err) || !wait_connected(err)) return false;
  sleep_ms(kSettleMs);  // the first name, mode and range reads after the seed
  rss_connected_ = rss_kib();
  return true;
}

bool Rig::make_home(std::string& err) {
  char pattern[] = "/tmp/gm-bench.XXXXXX";
  if (!mkdtemp(pattern)) {
    err = "A temporary home could not be made under /tmp.";
    return false;
  }
  home_ = pattern;
  setenv("GAINMESH_HOME", home_.c_str(), 1);
  setenv("HOME", home_.c_str(), 1);
  setenv("GAINMESH_IO_MODULES", (home_ + "/IO Modules").c_str(), 1);
  // Outside a network namespace of its own the module must never broadcast.
  setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
  return true;
}

bool Rig::start_desk(std::string& err) {
  rig::WingSim::Options o;
  o.program = GM_WINGSIM;
  o.extra = {"--patch", kPatch, "--quiet"};
  o.keep_control_open = true;  // the desk-to-LV1 figure counts no connection set-ups
  for (int attempt = 0; attempt < kAddressTries && !desk_; ++attempt) {
    o.ip = loopback_for(attempt);
    try {
      desk_ = std::make_unique<rig::WingSim>(o);
    } catch (const std::exception& e) {
      err = "The virtual desk did not start on " + o.ip + " (port 2222 in use?): " + e.what();
    }
  }
  if (!desk_) return false;
  ip_ = desk_->ip();
  for (const char* line : kDeskSetup) {
    desk_->cmd(line);
    if (!desk_->ok()) {
      err = "The virtual desk refused '" + std::string(line) + "': " + desk_->error() + ".";
      return false;
    }
  }
  for (int ch = 0; ch < kChannels; ++ch) {
    channels_[ch] = desk_channel_of(ch);
    const std::vector<std::string> lines = desk_->cmd("hash " + channels_[ch].gain_path);
    if (!desk_->ok() || lines.empty()) {
      err = "The virtual desk gave no hash for " + channels_[ch].gain_path + ".";
      return false;
    }
    channels_[ch].gain_hash = static_cast<uint32_t>(std::strtoul(lines[0].c_str(), nullptr, 16));
  }
  std::ofstream cfg(home_ + "/wing.cfg", std::ios::trunc);
  cfg << "ip=" << ip_ << "\nwatch=" << kChannels << "\n";
  if (!cfg.flush()) {
    err = "The module's settings file could not be written in " + home_ + ".";
    return false;
  }
  return true;
}

bool Rig::start_module(std::string& err) {
  lib_ = dlopen(GM_WING_DYLIB, RTLD_NOW | RTLD_LOCAL);
  auto entry =
      lib_ ? reinterpret_cast<GmModuleEntryFn>(dlsym(lib_, GM_MODULE_ENTRY_SYMBOL)) : nullptr;
  module_ = entry ? entry(GM_MODULE_ABI) : nullptr;
  if (!module_) {
    const char* why = dlerror();
    err = std::string("The wing module could not be loaded from " GM_WING_DYLIB) +
          (why ? std::string(": ") + why : std::string()) + ".";
    return false;
  }
  if (module_->start(host_->table()) != 1) {
    err = "The wing module refused to start.";
    return false;
  }
  started_ = true;
  module_->attach(host_->iface());
  return true;
}

bool Rig::wait_connected(std::string& err) {
  if (!host_->wait_for_line("[bridge] seeded ", kSeedTimeoutMs)) {
    err = "The module did not seed LV1 from the desk within 30 s. Its last log lines:\n" +
          host_->recent_log();
    return false;
  }
  GmConsoleStatus st{};
  if (!wait_until([&] { return read_status(st) && st.connected == 1 && st.metering == 1; },
                  kMeterTimeoutMs)) {
    err = "The module did not report the desk connected with metering on within 10 s.";
    return false;
  }
  for (int ch = 0; ch < kChannels; ++ch) {
    if (module_->has_preamp(ch) != 1) {
      err = "LV1 channel " + std::to_string(ch + 1) + " (" + channels_[ch].group + " " +
            std::to_string(channels_[ch].input) + ") has no head amp in the module's view.";
      return false;
    }
  }
  return true;
}

bool Rig::read_status(GmConsoleStatus& out) const {
  const std::string path =
      home_ + "/Library/Application Support/Gainmesh/run/" GM_STATUS_FILE_PREFIX;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = pread(fd, &out, sizeof out, 0);
  close(fd);
  return n == static_cast<ssize_t>(sizeof out) && out.magic == GM_STATUS_MAGIC;
}

void Rig::down() {
  // The module stays mapped, as a loader keeps a module that may have left a thread running;
  // the host table then stays too, since such a thread may still call it.
  const bool ended = !started_ || module_->stop() == 1;
  started_ = false;
  observer_.stop();
  desk_.reset();
  if (ended) {
    host_.reset();
  } else {
    static_cast<void>(host_.release());
  }
  if (!home_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    home_.clear();
  }
}

}  // namespace gmbench
