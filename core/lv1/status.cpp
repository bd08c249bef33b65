// Reading the loader and console status blocks from the run folder, and the resync request.
#include "status.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "block_watch.h"
#include "mono_clock.h"
#include "status_layout.h"
#include "util.h"

namespace gm {
namespace {

// The console block as the app reads it: where each field sits in the file.
constexpr size_t kConMinBytes = 2232;
constexpr size_t kCandidatesEnd = 10996;  // format 15: choice .. pinned
constexpr size_t kPortsEnd = 11064;       // format 16: n_ports, ports
constexpr size_t kFindEnd = 11200;        // format 17: find_state .. ip_name
constexpr uint32_t kCandidatesVersion = 15;
constexpr uint32_t kPortsVersion = 16;
constexpr uint32_t kFindVersion = 17;
constexpr size_t kSettingsFrom = 264;  // bank, base and watch: 16 bytes the request mirrors
constexpr size_t kSettingsBytes = 16;

#define GM_AT(field, off) \
  static_assert(offsetof(GmConsoleStatus, field) == (off), "console block: " #field)
GM_AT(version, 4);
GM_AT(desk_ip, 8);
GM_AT(desk_desc, 72);
GM_AT(connected, 232);
GM_AT(bank, kSettingsFrom);
GM_AT(watch, 276);
GM_AT(injected, 280);
GM_AT(sets, 284);
GM_AT(received, 288);
GM_AT(req_seq, 880);
GM_AT(req_bank, 884);
GM_AT(mac, 904);
GM_AT(patch_age_ms, 960);
GM_AT(status, 968);
GM_AT(ch_group, 1064);
GM_AT(ch_input, 1576);
GM_AT(ch_preamp, 1832);
GM_AT(req_resync, 2224);
GM_AT(level, kConMinBytes);
GM_AT(choice, 10012);
GM_AT(n_candidates, 10016);
GM_AT(candidates, 10020);
GM_AT(pinned, 10956);
GM_AT(n_ports, kCandidatesEnd);
GM_AT(ports, 11000);
GM_AT(find_state, kPortsEnd);
GM_AT(moves, 11068);
GM_AT(forced_ip, 11072);
GM_AT(ip_id, 11120);
GM_AT(ip_name, 11160);
#undef GM_AT
static_assert(sizeof(GmConsoleStatus) == kFindEnd, "console block size");
static_assert(offsetof(GmConsoleStatus, req_watch) + 4 == 900, "request settings end at 900");
static_assert(offsetof(GmConsoleStatus, injected) == kSettingsFrom + kSettingsBytes,
              "bank, base and watch are the 16 bytes before injected");
static_assert(sizeof(ConCandidate) == sizeof(GmCandidate) && sizeof(ConPort) == sizeof(GmPortNote),
              "candidate and port records copy as they are");

// A file mapped shared for as long as the object lives.
class Mapped {
 public:
  Mapped(const std::string& path, bool writable, size_t max_bytes) {
    fd_ = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0 || st.st_size <= 0) return;
    file_size_ = static_cast<size_t>(st.st_size);
    length_ = std::min(file_size_, max_bytes);
    void* p = mmap(nullptr, length_, PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, fd_, 0);
    if (p != MAP_FAILED) base_ = static_cast<unsigned char*>(p);
  }
  ~Mapped() {
    if (base_) munmap(base_, length_);
    if (fd_ >= 0) close(fd_);
  }
  Mapped(const Mapped&) = delete;
  Mapped& operator=(const Mapped&) = delete;

  unsigned char* data() const { return base_; }  // null when the file could not be mapped
  size_t file_size() const { return file_size_; }
  size_t length() const { return length_; }  // the bytes mapped: at most max_bytes

 private:
  int fd_ = -1;
  unsigned char* base_ = nullptr;
  size_t file_size_ = 0, length_ = 0;
};

// The bytes of a block, however they were obtained; every read stays below `size`.
struct View {
  const unsigned char* data;
  size_t size;

  template <typename T>
  T read(size_t offset) const {
    T v{};
    if (offset + sizeof v <= size) std::memcpy(&v, data + offset, sizeof v);
    return v;
  }
};

// Copies a text field and ends it at its last byte.
template <size_t N>
void copy_text(char (&dst)[N], const unsigned char* src) {
  std::memcpy(dst, src, N);
  dst[N - 1] = '\0';
}

std::string resolved(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  free(real);
  return out;
}

bool con_type_ok(int type) {
  return type == 0 || type == 1;
}

#define GM_OFF(field) offsetof(GmConsoleStatus, field)

void copy_candidates(const View& m, ConStatus& s) {
  const unsigned char* b = m.data;
  s.choice = m.read<int32_t>(GM_OFF(choice));
  s.cand_count = std::min<uint32_t>(m.read<uint32_t>(GM_OFF(n_candidates)), GM_MAX_CANDIDATES);
  for (int i = 0; i < GM_MAX_CANDIDATES; ++i) {
    const unsigned char* c = b + GM_OFF(candidates) + i * sizeof(GmCandidate);
    ConCandidate& d = s.candidates[i];
    copy_text(d.address, c + offsetof(GmCandidate, address));
    copy_text(d.name, c + offsetof(GmCandidate, name));
    copy_text(d.model, c + offsetof(GmCandidate, model));
    copy_text(d.id, c + offsetof(GmCandidate, identity));
    std::memcpy(&d.sg_card, c + offsetof(GmCandidate, soundgrid), sizeof d.sg_card);
  }
  copy_text(s.pinned, b + GM_OFF(pinned));
}

void copy_ports(const View& m, ConStatus& s) {
  s.port_count = std::min<uint32_t>(m.read<uint32_t>(GM_OFF(n_ports)), GM_MAX_PORTS);
  for (int i = 0; i < GM_MAX_PORTS; ++i) {
    const unsigned char* p = m.data + GM_OFF(ports) + i * sizeof(GmPortNote);
    copy_text(s.ports[i].port, p + offsetof(GmPortNote, port));
    std::memcpy(&s.ports[i].flag, p + offsetof(GmPortNote, box_connected), 4);
    std::memcpy(&s.ports[i].strips, p + offsetof(GmPortNote, strips_without_knob), 4);
  }
}

void copy_find(const View& m, ConStatus& s) {
  const unsigned char* b = m.data;
  s.find_state = m.read<uint32_t>(GM_OFF(find_state));
  s.addr_followed = m.read<uint32_t>(GM_OFF(moves));
  copy_text(s.typed_ip, b + GM_OFF(forced_ip));
  copy_text(s.answer_id, b + GM_OFF(ip_id));
  copy_text(s.answer_name, b + GM_OFF(ip_name));
}

void copy_always(const View& m, ConStatus& s) {
  const unsigned char* b = m.data;
  copy_text(s.identity, b + GM_OFF(desk_desc));
  std::memcpy(s.strip_local, b + GM_OFF(ch_preamp), sizeof s.strip_local);
  for (int ch = 0; ch < 64; ++ch) copy_text(s.strip_group[ch], b + GM_OFF(ch_group) + ch * 8);
  std::memcpy(s.strip_number, b + GM_OFF(ch_input), sizeof s.strip_number);
  copy_text(s.desk_ip, b + GM_OFF(desk_ip));
  copy_text(s.mac, b + GM_OFF(mac));
  s.sets = m.read<uint32_t>(GM_OFF(sets));
  s.received = m.read<uint32_t>(GM_OFF(received));
  s.patch_age_ms = m.read<uint32_t>(GM_OFF(patch_age_ms));
  s.watch = static_cast<uint32_t>(std::max<int32_t>(m.read<int32_t>(GM_OFF(watch)), 0));
}

}  // namespace

std::string con_file(int type) {
  if (!con_type_ok(type)) return "";
  return run_dir() + "/" GM_STATUS_FILE_PREFIX + kSupported[type].suffix;
}

std::string loader_file() {
  return run_dir() + "/" GM_LOADER_FILE;
}

Live live_blocks(const Lv1& lv1) {
  Live live;
  if (lv1.pid == 0) return live;
  const BlockWatch::Paths paths = {resolved(loader_file()), resolved(con_file(0)),
                                   resolved(con_file(1))};
  static std::mutex mu;
  static BlockWatch watch;
  std::lock_guard<std::mutex> lock(mu);
  const BlockWatch::Held held = watch.held(system_open_files(), lv1.pid, paths, monotonic_ms());
  live.loader = held[0];
  live.con[0] = held[1];
  live.con[1] = held[2];
  return live;
}

bool loader_status_of(const unsigned char* data, size_t size, GmLoaderStatus* out) {
  std::memset(out, 0, sizeof *out);
  const View m{data, size};
  if (!data || size < GM_LOADER_MIN_BYTES) return false;
  const uint32_t declared = m.read<uint32_t>(offsetof(GmLoaderStatus, size));
  if (m.read<uint32_t>(0) != GM_LOADER_MAGIC || declared < GM_LOADER_MIN_BYTES) return false;
  const size_t n = std::min<size_t>({size, declared, GM_LOADER_READ_BYTES});
  std::memcpy(out, data, n);
  out->loader_version[sizeof out->loader_version - 1] = '\0';
  for (GmLoaderConsole& c : out->consoles) {
    c.key[sizeof c.key - 1] = '\0';
    c.running_version[sizeof c.running_version - 1] = '\0';
    c.module_file[sizeof c.module_file - 1] = '\0';
  }
  return true;
}

bool read_loader_status(GmLoaderStatus* out, const Live& live) {
  std::memset(out, 0, sizeof *out);
  if (!live.loader) return false;
  Mapped m(loader_file(), false, GM_LOADER_READ_BYTES);
  return loader_status_of(m.data(), std::min(m.file_size(), m.length()), out);
}

ConStatus con_status_of(const unsigned char* data, size_t size) {
  ConStatus s{};
  const View m{data, size};
  if (!data || size < kConMinBytes || m.read<uint32_t>(0) != GM_STATUS_MAGIC) return s;
  s.connected = m.read<uint32_t>(GM_OFF(connected));
  s.injected = m.read<uint32_t>(GM_OFF(injected));
  s.version = m.read<uint32_t>(GM_OFF(version));
  copy_text(s.text, data + GM_OFF(status));
  if (s.connected == 0 && s.injected == 0 && std::strcmp(s.text, GM_STATUS_STOPPED_TEXT) == 0) {
    return ConStatus{};
  }
  s.valid = true;
  copy_always(m, s);
  if (s.version >= kCandidatesVersion && size >= kCandidatesEnd) copy_candidates(m, s);
  if (s.version >= kPortsVersion && size >= kPortsEnd) copy_ports(m, s);
  if (s.version >= kFindVersion && size >= kFindEnd) copy_find(m, s);
  return s;
}

ConStatus read_con_status(int type, const Live& live) {
  if (!con_type_ok(type) || !live.con[type]) return ConStatus{};
  Mapped m(con_file(type), false, GM_STATUS_MAP_BYTES);
  return con_status_of(m.data(), m.length());
}

bool con_write_resync(const std::string& path, bool lv1_wins) {
  Mapped m(path, true, kConMinBytes);
  const View v{m.data(), m.length()};
  if (!m.data() || m.file_size() < kConMinBytes || v.read<uint32_t>(0) != GM_STATUS_MAGIC) {
    return false;
  }
  unsigned char* b = m.data();
  const uint32_t direction = lv1_wins ? 1 : 0;
  std::memcpy(b + GM_OFF(req_resync), &direction, sizeof direction);
  std::memmove(b + GM_OFF(req_bank), b + kSettingsFrom, kSettingsBytes);
  // The module takes a request when it sees the counter move, with acquire ordering.
  auto* seq = reinterpret_cast<uint32_t*>(b + GM_OFF(req_seq));
  __atomic_fetch_add(seq, 1u, __ATOMIC_RELEASE);
  return true;
}

void con_request_resync(int type, bool lv1_wins) {
  if (!con_type_ok(type) || !live_blocks(lv1_info()).con[type]) return;
  con_write_resync(con_file(type), lv1_wins);
}

#undef GM_OFF

}  // namespace gm
