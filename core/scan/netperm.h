// The Local Network permission: the app's own state, LV1's switch, and asking macOS for access.
// The switches come from the system's network-extension archive (netperm_archive.h); a marker
// file records that the user has been asked; a one-byte send to UDP port 9 of a neighbour tells
// allowed from refused where the archive says nothing, and is what makes macOS ask the user.
//
// On a system without such a permission (Linux, macOS before 15) ln_privacy() is false and the
// app's state is always "allowed".
//
// Threads: every function may be called from any thread. The archive cache and the permission
// cache each have their own mutex. Blocking: ln_switch reads a file when it changed; net_perm
// may send one probe (at most every 2 s, with its mutex held); net_request writes the marker and
// sends. Nothing here reports an error beyond the values below; failures are log lines.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "netperm_archive.h"
#include "platform.h"

namespace gm {

// The app's permission state, as net_perm returns it.
enum NetPerm : int {
  kNetNoNetwork = 0,
  kNetNotAsked = 1,
  kNetWaiting = 2,  // asked less than a minute ago, no answer seen yet
  kNetBlocked = 3,
  kNetAllowed = 4,
};

// What a probe found.
enum NetProbe : int {
  kProbeSent = 1,       // a send went through
  kProbeRefused = 0,    // at least one send was refused and none went through
  kProbeNoNetwork = -1  // nothing could be sent (no usable interface, no socket, sends disabled)
};

extern const char kLv1SigningId[];  // "com.WavesAudio.eMotion-LV1"
extern const char kOwnSigningId[];  // "org.ambervale.gainmesh"

// "no network", "not asked", "waiting for an answer", "blocked", "allowed"; any value outside
// 1-4 gives "no network".
const char* net_perm_name(int state);

// The macOS major version, read once per process: 0 when it cannot be read, -1 on a system that
// is not macOS. ln_privacy(): the permission exists (major 15 or later, or unknown).
int macos_major();
bool ln_privacy();

// The identifier the archive files the app under: the bundle identifier when it begins with
// kOwnSigningId, else kOwnSigningId. own_id() takes the running app's bundle.
std::string own_id_for(const std::string& bundle_id);
std::string own_id();

// The pure decision of net_perm. `probe` is called only when the switch and `asked` leave the
// answer open; `recent` is whether the user asked less than 60 s ago.
int net_perm_decide(bool privacy_on, int sw, bool asked, bool recent,
                    const std::function<int()>& probe);

// One archive file and what was last parsed from it, re-read only when the file's inode, size or
// modification time changed. Safe to share between threads.
class SwitchArchive {
 public:
  explicit SwitchArchive(std::string path);
  // The switch of `id`: kSwitchOn / kSwitchOff / kSwitchUnlisted, or kSwitchUnreadable when the
  // file is missing or not understood (logged once per version of the file).
  int get(const std::string& id);

 private:
  struct Identity {
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtime_s = 0;
    int64_t mtime_ns = 0;
    bool operator==(const Identity&) const = default;
  };
  void reload(const Identity& now);

  const std::string path_;
  std::mutex mu_;
  std::map<std::string, int> switches_;
  bool understood_ = false;
  Identity identity_;
};

// The switch of any signing identifier in the system's archive, and LV1's.
int ln_switch(const std::string& id);
int lv1_net_switch();

// Whether the app is known to have been asked: from the archive when it lists the app, else the
// marker file, else (archive unreadable) whether Gainmesh is installed. With no permission on
// this system there is nothing to ask, and the answer is true.
bool net_asked();
// The same decision over given facts; `installed` is called only when needed.
bool net_asked_decide(bool privacy_on, int own_switch, bool marker,
                      const std::function<bool()>& installed);
std::string net_marker_path();  // <support dir>/netperm.asked

// The probe. probe() sends to the system's interfaces; in the build that carries the tests nothing
// is sent while the environment variable GAINMESH_TEST_NO_BROADCAST is set and not empty
// (kProbeNoNetwork then).
// Sends one zero byte to UDP port 9 of the target (host order); 0 or the errno of the failure.
using ProbeSend = std::function<int(uint32_t target)>;
// The neighbour an interface's probe goes to: the subnet's first address, or its second when the
// first is the interface's own; 0 when the interface gets no probe.
uint32_t probe_target(const NetIface& nif);
int probe_interfaces(const std::vector<NetIface>& ifs, const ProbeSend& send);
int probe();

// The permission cache behind net_perm and net_request, over the facts it is handed; the process
// has one (net_perm, net_request) and tests make their own.
struct NetPermIo {
  std::function<bool()> privacy;
  std::function<int()> own_switch;
  std::function<bool()> asked;
  std::function<int()> probe;
  std::function<int64_t()> now_ms;  // monotonic
};
class NetPermission {
 public:
  explicit NetPermission(NetPermIo io);
  // The state; logs "local network (Gainmesh): ..." when it differs from the last one.
  int state();
  // Opens the 60 s window of a request, sends a fresh probe and logs the outcome. The marker
  // file is the caller's.
  int request();

 private:
  NetPermIo io_;
  std::mutex mu_;
  int last_ = kNetNoNetwork;
  int64_t asked_at_ = -1;
  int last_probe_ = kProbeNoNetwork;
  int64_t probe_at_ = -100000;
};

int net_perm();
// Writes the marker (a failure is logged), then asks as NetPermission::request does.
void net_request();

}  // namespace gm
