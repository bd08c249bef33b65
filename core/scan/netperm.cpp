// The app's Local Network permission state, LV1's switch, the asked marker and the probe.
#include "netperm.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "install_state.h"
#include "util.h"

namespace gm {
namespace {

constexpr char kArchivePath[] = "/Library/Preferences/com.apple.networkextension.plist";
constexpr size_t kArchiveMax = 16 << 20;  // far above any real archive; larger is not one
constexpr size_t kReadChunk = 64 << 10;
constexpr int kPrivacyFromMajor = 15;
constexpr int64_t kRecentMs = 60000;
constexpr int64_t kProbeEveryMs = 2000;
constexpr uint16_t kDiscardPort = 9;

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A test outside a network namespace of its own sets GAINMESH_TEST_NO_BROADCAST: send nothing.
// Only the build that carries the tests looks.
bool sends_allowed() {
#ifdef GM_TEST_HOOKS
  const char* off = std::getenv("GAINMESH_TEST_NO_BROADCAST");
  return !off || !*off;
#else
  return true;
#endif
}

// The whole file into out, read in 64 KiB pieces; false when it cannot be read or is too large.
bool read_archive(const std::string& path, std::string* out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  std::string chunk(kReadChunk, '\0');
  bool ok = true;
  for (;;) {
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    out->append(chunk.data(), static_cast<size_t>(n));
    if (out->size() > kArchiveMax) {
      ok = false;
      break;
    }
  }
  close(fd);
  return ok;
}

// One zero byte to UDP port 9 of target over fd; 0 or the errno of the failure.
int send_zero(int fd, uint32_t target) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDiscardPort);
  to.sin_addr.s_addr = htonl(target);
  const char zero = 0;
  const ssize_t sent =
      sendto(fd, &zero, 1, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent == 1 ? 0 : (errno ? errno : EIO);
}

const char* probe_outcome(int p) {
  if (p == kProbeSent) return "went through";
  if (p == kProbeRefused) return "was refused";
  return "found no network";
}

}  // namespace

const char kLv1SigningId[] = "com.WavesAudio.eMotion-LV1";
const char kOwnSigningId[] = "org.ambervale.gainmesh";

const char* net_perm_name(int state) {
  switch (state) {
    case kNetNotAsked:
      return "not asked";
    case kNetWaiting:
      return "waiting for an answer";
    case kNetBlocked:
      return "blocked";
    case kNetAllowed:
      return "allowed";
    default:
      return "no network";
  }
}

int macos_major() {
  static const int major = os_macos_major();
  return major;
}

bool ln_privacy() {
  const int major = macos_major();
  return major >= kPrivacyFromMajor || major == 0;
}

std::string own_id_for(const std::string& bundle_id) {
  return bundle_id.starts_with(kOwnSigningId) ? bundle_id : kOwnSigningId;
}

std::string own_id() {
  std::map<std::string, std::string> info;
  const std::string app = app_path();
  if (app.empty() || !read_bundle_info(app, &info)) return kOwnSigningId;
  return own_id_for(info["CFBundleIdentifier"]);
}

int net_perm_decide(bool privacy_on, int sw, bool asked, bool recent,
                    const std::function<int()>& probe) {
  if (!privacy_on || sw == kSwitchOn) return kNetAllowed;
  if (sw == kSwitchOff) return kNetBlocked;
  if (!asked) return kNetNotAsked;
  const int p = probe();
  if (p == kProbeSent) return kNetAllowed;
  if (sw == kSwitchUnlisted) return recent ? kNetWaiting : kNetNotAsked;
  if (p == kProbeNoNetwork) return kNetNoNetwork;
  return recent ? kNetWaiting : kNetBlocked;
}

// ---- the archive
// ---------------------------------------------------------------------------------

SwitchArchive::SwitchArchive(std::string path) : path_(std::move(path)) {}

int SwitchArchive::get(const std::string& id) {
  std::lock_guard<std::mutex> lock(mu_);
  struct stat st {};
  if (stat(path_.c_str(), &st) != 0) {
    switches_.clear();
    understood_ = false;
    identity_ = Identity{};
    return kSwitchUnreadable;
  }
  const Identity now{st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  if (!(now == identity_)) reload(now);
  if (!understood_) return kSwitchUnreadable;
  const auto it = switches_.find(id);
  return it == switches_.end() ? kSwitchUnlisted : it->second;
}

void SwitchArchive::reload(const Identity& now) {
  identity_ = now;
  std::string bytes;
  understood_ = read_archive(path_, &bytes) && parse_switches(bytes, &switches_);
  if (!understood_) {
    switches_.clear();
    logf(
        "local network: %s is not the archive Gainmesh knows - the switches are read by sending "
        "instead",
        path_.c_str());
  }
}

int ln_switch(const std::string& id) {
  static auto* archive = new SwitchArchive(kArchivePath);  // lives until exit, like its callers
  return archive->get(id);
}

int lv1_net_switch() {
  return ln_switch(kLv1SigningId);
}

// ---- asked -------------------------------------------------------------------------------------

std::string net_marker_path() {
  return support_dir() + "/netperm.asked";
}

bool net_asked_decide(bool privacy_on, int own_switch, bool marker,
                      const std::function<bool()>& installed) {
  if (!privacy_on) return true;  // nothing to ask on this system: the scan may run
  if (own_switch == kSwitchOn || own_switch == kSwitchOff) return true;
  if (own_switch == kSwitchUnlisted) return marker;
  return marker || installed();
}

bool net_asked() {
  if (!ln_privacy()) return true;
  return net_asked_decide(true, ln_switch(own_id()), exists(net_marker_path()),
                          [] { return installed(); });
}

// ---- the probe
// -----------------------------------------------------------------------------------

uint32_t probe_target(const NetIface& nif) {
  if (!nif.up || !nif.broadcast || nif.loopback) return 0;
  if (nif.mask == 0 || nif.mask == 0xFFFFFFFFu) return 0;
  const uint32_t net = nif.addr & nif.mask;
  const uint32_t last = net | ~nif.mask;  // the subnet's broadcast address
  uint32_t target = net + 1;
  if (target == nif.addr) target = net + 2;
  // The broadcast address, or (on a two-address subnet) a neighbour outside the subnet.
  if (target <= net || target >= last) return 0;
  return target;
}

int probe_interfaces(const std::vector<NetIface>& ifs, const ProbeSend& send) {
  if (!sends_allowed()) return kProbeNoNetwork;
  bool refused = false;
  for (const NetIface& nif : ifs) {
    const uint32_t target = probe_target(nif);
    if (!target) continue;
    const int err = send(target);
    if (err == 0) return kProbeSent;
    if (err == EHOSTUNREACH || err == EPERM) refused = true;
  }
  return refused ? kProbeRefused : kProbeNoNetwork;
}

int probe() {
  if (!sends_allowed()) return kProbeNoNetwork;
  const std::vector<NetIface> ifs = ipv4_interfaces();
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kProbeNoNetwork;
  const int p = probe_interfaces(ifs, [fd](uint32_t target) { return send_zero(fd, target); });
  close(fd);
  return p;
}

// ---- the state
// -----------------------------------------------------------------------------------

NetPermission::NetPermission(NetPermIo io) : io_(std::move(io)) {}

int NetPermission::state() {
  const bool privacy = io_.privacy();
  const int sw = privacy ? io_.own_switch() : kSwitchUnreadable;
  const bool asked = privacy && io_.asked();
  std::lock_guard<std::mutex> lock(mu_);
  const int64_t now = io_.now_ms();
  const bool recent = asked_at_ >= 0 && now - asked_at_ < kRecentMs;
  const int s = net_perm_decide(privacy, sw, asked, recent, [&] {
    if (now - probe_at_ >= kProbeEveryMs) {
      last_probe_ = io_.probe();
      probe_at_ = now;
    }
    return last_probe_;
  });
  if (s != last_) {
    logf("local network (Gainmesh): %s%s", net_perm_name(s),
         privacy ? "" : " - macOS before 15 has no Local Network permission");
    last_ = s;
  }
  return s;
}

int NetPermission::request() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    asked_at_ = io_.now_ms();
    probe_at_ = -100000;  // the next state() probes afresh
  }
  const int p = io_.probe();
  const int s = state();
  logf("local network: asking - the send %s (%s)", probe_outcome(p), net_perm_name(s));
  return s;
}

namespace {

NetPermission& process_permission() {
  static auto* permission = new NetPermission(
      NetPermIo{ln_privacy, [] { return ln_switch(own_id()); }, net_asked, probe, steady_ms});
  return *permission;
}

}  // namespace

int net_perm() {
  return process_permission().state();
}

void net_request() {
  const std::string marker = net_marker_path();
  if (!make_dirs(support_dir()) || !write_text(marker, "asked\n")) {
    logf("local network: could not write %s", marker.c_str());
  }
  process_permission().request();
}

}  // namespace gm
