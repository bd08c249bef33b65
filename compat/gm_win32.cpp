// gm_win32: the wing module's Win32-named operations over POSIX threads, files and sockets.
//
// A handle is a pointer to a reference-counted object that begins with a four-character tag.
// Every open handle is kept in a registry, so null, closed and foreign pointers are recognised
// without being dereferenced, and each operation holds its own reference while it uses an object.
// Closing a handle removes it from the registry and drops the handle's reference; a running
// thread keeps its own reference until its function has returned.
//
// The host loads and unloads the module that carries this layer many times in one process, so
// everything the layer keeps for the process (the handle registry, the view list, the UTF-8
// locale, threads that have ended but not yet gone) is given back when the library is unloaded,
// unless a thread of the layer is still running and may use it.

#include "gm_win32.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <ifaddrs.h>
#include <locale.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/paths.h"

namespace {

constexpr DWORD kErrorBadNetName = 67;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorModNotFound = 126;
constexpr DWORD kErrorProcNotFound = 127;
constexpr DWORD kErrorEnvvarNotFound = 203;

thread_local DWORD t_last_error = 0;

// Stores err for GetLastError and returns value.
template <typename T>
T fail(DWORD err, T value) {
  t_last_error = err;
  return value;
}

// Runs body, turning an allocation failure into `failure` with ERROR_NOT_ENOUGH_MEMORY.
template <typename T, typename F>
T guarded(T failure, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception&) {
    return fail(ERROR_NOT_ENOUGH_MEMORY, failure);
  }
}

// Records errno for GetLastError when a system call failed; passes its result through.
template <typename T>
T sys(T rc) {
  if (rc < 0) t_last_error = errno;
  return rc;
}

class Lock {
 public:
  explicit Lock(pthread_mutex_t& m) : m_(m) { pthread_mutex_lock(&m_); }
  ~Lock() { pthread_mutex_unlock(&m_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  pthread_mutex_t& m_;
};

// ---- handle objects -----------------------------------------------------------------------------

constexpr const char* kThreadTag = "THRD";
constexpr const char* kEventTag = "EVNT";
constexpr const char* kMappingTag = "MAPP";
constexpr const char* kFindTag = "FIND";
constexpr const char* kFileTag = "FILE";

struct Object {
  Object(const char* t, int initial_refs) : refs(initial_refs) {
    std::memcpy(tag, t, sizeof tag);
    pthread_mutex_init(&mu, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cv, &attr);
    pthread_condattr_destroy(&attr);
  }
  ~Object() {
    pthread_cond_destroy(&cv);
    pthread_mutex_destroy(&mu);
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  bool is(const char* t) const { return std::memcmp(tag, t, sizeof tag) == 0; }

  char tag[4];
  std::atomic<int> refs;
  pthread_mutex_t mu;
  pthread_cond_t cv;       // on the monotonic clock
  bool signalled = false;  // guarded by mu
};

struct ThreadObject : Object {
  ThreadObject(LPTHREAD_START_ROUTINE f, void* a) : Object(kThreadTag, 2), fn(f), arg(a) {}
  LPTHREAD_START_ROUTINE fn;
  void* arg;
  pid_t tid = 0;         // guarded by mu
  bool started = false;  // guarded by mu
};

struct EventObject : Object {
  EventObject(bool manual_reset, bool initial) : Object(kEventTag, 1), manual(manual_reset) {
    signalled = initial;
  }
  const bool manual;
};

struct MappingObject : Object {
  MappingObject() : Object(kMappingTag, 1) {}
  ~MappingObject() {
    if (fd >= 0) close(fd);
  }
  int fd = -1;
  uint64_t size = 0;
};

struct FindObject : Object {
  FindObject() : Object(kFindTag, 1) {}
  ~FindObject() {
    if (dir) closedir(dir);
  }
  DIR* dir = nullptr;  // guarded by mu once published
  std::string pattern;
};

struct FileObject : Object {
  FileObject() : Object(kFileTag, 1) {}
  ~FileObject() {
    if (fd >= 0) close(fd);  // also ends a lock the handle holds
  }
  int fd = -1;
};

void destroy(Object* o) {
  if (o->is(kThreadTag))
    delete static_cast<ThreadObject*>(o);
  else if (o->is(kEventTag))
    delete static_cast<EventObject*>(o);
  else if (o->is(kMappingTag))
    delete static_cast<MappingObject*>(o);
  else if (o->is(kFindTag))
    delete static_cast<FindObject*>(o);
  else if (o->is(kFileTag))
    delete static_cast<FileObject*>(o);
}

void release(Object* o) {
  if (o->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy(o);
}

// State kept for the whole process, made on first use and freed only when the library is
// unloaded with no thread of its own still running (see release_process_state).
template <typename T>
T& lazy(std::atomic<T*>& slot) {
  T* p = slot.load(std::memory_order_acquire);
  if (p) return *p;
  auto* made = new T;
  if (slot.compare_exchange_strong(p, made, std::memory_order_acq_rel)) return *made;
  delete made;
  return *p;
}

// Open handles.
struct Registry {
  std::mutex mu;
  std::unordered_set<const void*> live;
};

std::atomic<Registry*> g_registry{nullptr};

Registry& registry() {
  return lazy(g_registry);
}

// Makes obj an open handle. Throws only on allocation failure (obj is then freed).
template <typename T>
HANDLE publish(std::unique_ptr<T> obj) {
  Registry& r = registry();
  std::lock_guard lock(r.mu);
  r.live.insert(static_cast<Object*>(obj.get()));
  return static_cast<Object*>(obj.release());
}

// The object behind an open handle with one more reference, or null. tag null accepts any kind.
Object* acquire(HANDLE h, const char* tag) {
  Registry& r = registry();
  std::lock_guard lock(r.mu);
  if (!r.live.count(h)) return nullptr;
  auto* o = static_cast<Object*>(h);
  if (tag && !o->is(tag)) return nullptr;
  o->refs.fetch_add(1, std::memory_order_relaxed);
  return o;
}

BOOL close_handle(HANDLE h) {
  Object* o = nullptr;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mu);
    if (r.live.erase(h)) o = static_cast<Object*>(h);
  }
  if (!o) return fail(ERROR_INVALID_HANDLE, FALSE);
  release(o);
  return TRUE;
}

// A counted reference held for the length of one operation.
class Ref {
 public:
  Ref(HANDLE h, const char* tag) : o_(acquire(h, tag)) {
    if (!o_) t_last_error = ERROR_INVALID_HANDLE;
  }
  Ref(Ref&& other) noexcept : o_(std::exchange(other.o_, nullptr)) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (o_) release(o_);
  }
  explicit operator bool() const { return o_ != nullptr; }
  Object* get() const { return o_; }
  template <typename T>
  T* as() const {
    return static_cast<T*>(o_);
  }

 private:
  Object* o_;
};

// ---- waits --------------------------------------------------------------------------------------

struct Deadline {
  bool forever;
  timespec at;  // CLOCK_MONOTONIC
};

Deadline deadline_after(DWORD ms) {
  Deadline d{ms == INFINITE, {}};
  clock_gettime(CLOCK_MONOTONIC, &d.at);
  d.at.tv_sec += ms / 1000;
  d.at.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (d.at.tv_nsec >= 1000000000L) {
    d.at.tv_sec += 1;
    d.at.tv_nsec -= 1000000000L;
  }
  return d;
}

bool waitable(const Object* o) {
  return o->is(kThreadTag) || o->is(kEventTag);
}

DWORD wait_object(Object* o, const Deadline& d) {
  Lock lock(o->mu);
  while (!o->signalled) {
    if (d.forever)
      pthread_cond_wait(&o->cv, &o->mu);
    else if (pthread_cond_timedwait(&o->cv, &o->mu, &d.at) == ETIMEDOUT)
      break;
  }
  if (!o->signalled) return WAIT_TIMEOUT;
  if (o->is(kEventTag) && !static_cast<EventObject*>(o)->manual) o->signalled = false;
  return WAIT_OBJECT_0;
}

// ---- threads ------------------------------------------------------------------------------------

constexpr size_t kMinThreadStack = size_t{1} << 20;

// A thread's handle is signalled while the thread still runs the last lines of thread_main, so
// an ended thread is joined before anything may assume it has gone: by the next CreateThread, and
// when the library is unloaded (its code must not be unmapped under a thread on its way out).
struct Threads {
  std::mutex mu;
  int running = 0;               // started, function not returned yet
  std::vector<pthread_t> ended;  // function returned, not joined yet; room kept for `running`
};

std::atomic<Threads*> g_threads{nullptr};

Threads& threads() {
  return lazy(g_threads);
}

// Joins every thread whose function has returned. Returns how many threads still run theirs.
int join_ended_threads() {
  Threads& all = threads();
  for (;;) {
    pthread_t id;
    {
      std::lock_guard lock(all.mu);
      if (all.ended.empty()) return all.running;
      id = all.ended.back();
      all.ended.pop_back();  // keeps the room reserved for running threads
    }
    pthread_join(id, nullptr);
  }
}

// Counts a thread about to start, with room to list it once it ends. Throws only on allocation
// failure (nothing is counted then).
void count_starting_thread() {
  Threads& all = threads();
  std::lock_guard lock(all.mu);
  all.ended.reserve(all.ended.size() + static_cast<size_t>(all.running) + 1);
  ++all.running;
}

void count_thread_not_started() {
  Threads& all = threads();
  std::lock_guard lock(all.mu);
  --all.running;
}

void* thread_main(void* p) {
  auto* t = static_cast<ThreadObject*>(p);
  {
    Lock lock(t->mu);
    t->tid = gettid();
    t->started = true;
    pthread_cond_broadcast(&t->cv);
  }
  t->fn(t->arg);
  {
    Threads& all = threads();
    std::lock_guard lock(all.mu);
    all.ended.push_back(pthread_self());  // room reserved by CreateThread, so this cannot throw
    --all.running;
  }
  {
    Lock lock(t->mu);
    t->signalled = true;
    pthread_cond_broadcast(&t->cv);
  }
  release(t);
  return nullptr;
}

size_t thread_stack_size(size_t requested) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t size = std::max(requested, kMinThreadStack);
  if (size > SIZE_MAX - page) return size;
  return (size + page - 1) / page * page;
}

// Starts t (joinable, see Threads); returns 0 or the error number.
int start_thread(ThreadObject* t, size_t stack) {
  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc != 0) return rc;
  rc = pthread_attr_setstacksize(&attr, thread_stack_size(stack));
  pthread_t id;
  if (rc == 0) rc = pthread_create(&id, &attr, thread_main, t);
  pthread_attr_destroy(&attr);
  return rc;
}

DWORD wait_started(ThreadObject* t) {
  Lock lock(t->mu);
  while (!t->started) pthread_cond_wait(&t->cv, &t->mu);
  return static_cast<DWORD>(t->tid);
}

// ---- text ---------------------------------------------------------------------------------------

constexpr uint32_t kReplacement = 0xFFFD;

bool is_scalar(uint32_t c) {
  return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// Code points that cannot be encoded (surrogates, values past U+10FFFF) become U+FFFD.
void append_utf8(std::string& out, uint32_t c) {
  if (!is_scalar(c)) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the sequence a lead byte starts (0 when it starts none), its payload bits and
// the smallest code point that needs that length.
struct Lead {
  size_t len;
  uint32_t bits;
  uint32_t min;
};

Lead lead_of(unsigned char b) {
  if (b < 0x80) return {1, b, 0};
  if ((b & 0xE0) == 0xC0) return {2, b & 0x1Fu, 0x80};
  if ((b & 0xF0) == 0xE0) return {3, b & 0x0Fu, 0x800};
  if ((b & 0xF8) == 0xF0) return {4, b & 0x07u, 0x10000};
  return {0, 0, 0};
}

// Decodes one code point from the n > 0 bytes at s and returns the bytes used. Malformed input
// (bad lead or continuation bytes, cut sequences, overlong forms, surrogates) gives U+FFFD.
size_t decode_utf8(const unsigned char* s, size_t n, uint32_t* cp) {
  const Lead lead = lead_of(s[0]);
  *cp = kReplacement;
  if (lead.len == 0) return 1;
  uint32_t v = lead.bits;
  for (size_t i = 1; i < lead.len; ++i) {
    if (i >= n || (s[i] & 0xC0) != 0x80) return i;
    v = (v << 6) | (s[i] & 0x3Fu);
  }
  if (v >= lead.min && is_scalar(v)) *cp = v;
  return lead.len;
}

std::string encode(const wchar_t* w, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) append_utf8(out, static_cast<uint32_t>(w[i]));
  return out;
}

std::wstring decode(const char* s, size_t n) {
  std::wstring out;
  out.reserve(n);
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  for (size_t i = 0; i < n;) {
    uint32_t cp;
    i += decode_utf8(p + i, n - i, &cp);
    out += static_cast<wchar_t>(cp);
  }
  return out;
}

// Copies a converted text out under the size-query protocol of the two conversion calls.
template <typename S, typename C>
int copy_converted(const S& text, C* out, int outlen) {
  if (text.size() > static_cast<size_t>(INT_MAX)) return fail(ERROR_INVALID_PARAMETER, 0);
  if (outlen == 0) return static_cast<int>(text.size());
  if (text.size() > static_cast<size_t>(outlen)) return fail(kErrorInsufficientBuffer, 0);
  std::copy(text.begin(), text.end(), out);
  return static_cast<int>(text.size());
}

// Copies s and its NUL into buf; returns its length, or the size needed when buf is too small.
DWORD copy_out(const std::wstring& s, wchar_t* buf, DWORD size) {
  if (!buf || size <= s.size()) return static_cast<DWORD>(s.size() + 1);
  std::wmemcpy(buf, s.data(), s.size());
  buf[s.size()] = L'\0';
  return static_cast<DWORD>(s.size());
}

std::atomic<locale_t> g_utf8_locale{static_cast<locale_t>(0)};

// Made on first use; a second thread that made one at the same time frees its own.
locale_t utf8_locale() {
  locale_t loc = g_utf8_locale.load(std::memory_order_acquire);
  if (loc) return loc;
  locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (!made) made = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
  if (!made) return static_cast<locale_t>(0);
  if (g_utf8_locale.compare_exchange_strong(loc, made, std::memory_order_acq_rel)) return made;
  freelocale(made);
  return loc;
}

// Gives the calling thread a UTF-8 character type for the scope's lifetime, so wide strings are
// formatted as UTF-8 whatever the process locale is.
class Utf8Scope {
 public:
  Utf8Scope() {
    if (const locale_t loc = utf8_locale()) old_ = uselocale(loc);
  }
  ~Utf8Scope() {
    if (old_) uselocale(old_);
  }
  Utf8Scope(const Utf8Scope&) = delete;
  Utf8Scope& operator=(const Utf8Scope&) = delete;

 private:
  locale_t old_ = static_cast<locale_t>(0);
};

// ---- files --------------------------------------------------------------------------------------

// Creates path and its parents (mode 0755); returns 0 or the error number.
int make_dirs(const std::string& path) {
  for (size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != '/') continue;
    if (mkdir(path.substr(0, end).c_str(), 0755) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

FILETIME to_filetime(const timespec& ts) {
  constexpr int64_t kUnixEpoch = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601
  constexpr int64_t kMaxSeconds = (INT64_MAX - kUnixEpoch) / 10000000 - 1;
  const int64_t secs = std::min<int64_t>(ts.tv_sec, kMaxSeconds);
  const int64_t t = std::max<int64_t>(0, secs * 10000000 + ts.tv_nsec / 100 + kUnixEpoch);
  const auto u = static_cast<uint64_t>(t);
  return FILETIME{static_cast<DWORD>(u), static_cast<DWORD>(u >> 32)};
}

WIN32_FILE_ATTRIBUTE_DATA attributes_of(const struct stat& st) {
  const auto size = static_cast<uint64_t>(st.st_size);
  return WIN32_FILE_ATTRIBUTE_DATA{
      S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL,
      to_filetime(st.st_ctim),
      to_filetime(st.st_atim),
      to_filetime(st.st_mtim),
      static_cast<DWORD>(size >> 32),
      static_cast<DWORD>(size)};
}

void fill_find_data(FindObject& f, const char* name, WIN32_FIND_DATAW* out) {
  struct stat st {};
  if (fstatat(dirfd(f.dir), name, &st, 0) != 0)
    fstatat(dirfd(f.dir), name, &st, AT_SYMLINK_NOFOLLOW);
  const WIN32_FILE_ATTRIBUTE_DATA a = attributes_of(st);
  out->dwFileAttributes = a.dwFileAttributes;
  out->ftCreationTime = a.ftCreationTime;
  out->ftLastAccessTime = a.ftLastAccessTime;
  out->ftLastWriteTime = a.ftLastWriteTime;
  out->nFileSizeHigh = a.nFileSizeHigh;
  out->nFileSizeLow = a.nFileSizeLow;
  const std::wstring wname = gm_to_wide(name);
  const size_t n = std::min<size_t>(wname.size(), MAX_PATH - 1);
  std::wmemcpy(out->cFileName, wname.data(), n);
  out->cFileName[n] = L'\0';
}

// Advances the search to the next entry whose name matches; "." and ".." are never listed.
bool next_match(FindObject& f, WIN32_FIND_DATAW* out) {
  while (const dirent* e = readdir(f.dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (fnmatch(f.pattern.c_str(), e->d_name, 0) != 0) continue;
    fill_find_data(f, e->d_name, out);
    return true;
  }
  return false;
}

// The mode for fopen: the caller's mode with close-on-exec added where the C library reads it.
std::string fopen_mode(const wchar_t* mode) {
  const std::string m = gm_to_utf8(mode);
  if (m.empty()) return m;
  std::string out(1, m[0]);
  out += 'e';
  out.append(m, 1, std::string::npos);
  return out;
}

// fopen by wide path; on failure errno and the last error hold the reason.
FILE* open_wide(const wchar_t* path, const wchar_t* mode) noexcept {
  if (!path || !mode) {
    errno = EINVAL;
    return fail(EINVAL, static_cast<FILE*>(nullptr));
  }
  try {
    FILE* f = std::fopen(gm_path_utf8(path).c_str(), fopen_mode(mode).c_str());
    if (!f) t_last_error = errno;
    return f;
  } catch (const std::exception&) {
    errno = ENOMEM;
    return fail(ENOMEM, static_cast<FILE*>(nullptr));
  }
}

// A BOOL-returning file call by wide path(s): TRUE when call returns 0, else the errno is kept.
template <typename F>
BOOL path_call(F&& call) {
  return guarded<BOOL>(FALSE, [&]() -> BOOL { return call() == 0 ? TRUE : fail(errno, FALSE); });
}

int access_flags(DWORD access) {
  const bool read = access & GENERIC_READ;
  const bool write = access & GENERIC_WRITE;
  return read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
}

// Opens the file for CreateFileW (base holds the access, link and close-on-exec flags); sets
// *created when this call made it. -1 with errno set on failure.
int open_disposed(const std::string& path, int base, DWORD disposition, bool* created) {
  *created = false;
  const auto make = [&](int extra) {
    const int fd = open(path.c_str(), base | O_CREAT | O_EXCL | extra, 0644);
    *created = fd >= 0;
    return fd;
  };
  switch (disposition) {
    case CREATE_NEW:
      return make(0);
    case CREATE_ALWAYS:
      return open(path.c_str(), base | O_CREAT | O_TRUNC, 0644);
    case OPEN_EXISTING:
      return open(path.c_str(), base);
    case TRUNCATE_EXISTING:
      return open(path.c_str(), base | O_TRUNC);
    case OPEN_ALWAYS:
      // Made here or opened as it is; a file removed between the two attempts is made again.
      for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = make(0);
        if (fd >= 0 || errno != EEXIST) return fd;
        fd = open(path.c_str(), base);
        if (fd >= 0 || errno != ENOENT) return fd;
      }
      return -1;
    default:
      errno = EINVAL;
      return -1;
  }
}

DWORD open_error(int err) {
  if (err == ENOENT || err == ENOTDIR) return ERROR_FILE_NOT_FOUND;
  if (err == EEXIST) return ERROR_FILE_EXISTS;
  return static_cast<DWORD>(err);
}

// ---- file mappings ------------------------------------------------------------------------------

// The run-folder file name of a mapping, or "" when the name cannot name a file there.
std::string mapping_file_name(LPCWSTR name) {
  std::string n = gm_to_utf8(name);
  if (n.rfind("Local\\", 0) == 0) n.erase(0, 6);
  std::replace(n.begin(), n.end(), '\\', '_');
  std::replace(n.begin(), n.end(), '/', '_');
  if (n == "." || n == "..") return {};
  return n;
}

// Opens (creating it, mode 0644) the file behind a mapping and grows it to size when shorter.
int open_region_file(const std::string& path, uint64_t size) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return fail(errno, -1);
  struct stat st;
  if (fstat(fd, &st) != 0 ||
      (static_cast<uint64_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    const int err = errno;
    close(fd);
    return fail(err, -1);
  }
  return fd;
}

// Mapped views by address.
struct Views {
  std::mutex mu;
  std::map<const void*, size_t> length;
};

std::atomic<Views*> g_views{nullptr};

Views& views() {
  return lazy(g_views);
}

// ---- adapters and neighbours --------------------------------------------------------------------

bool listed_adapter(const ifaddrs* a) {
  return a->ifa_addr && a->ifa_addr->sa_family == AF_INET && (a->ifa_flags & IFF_UP) &&
         !(a->ifa_flags & IFF_LOOPBACK);
}

void fill_adapter(const ifaddrs* a, IP_ADAPTER_ADDRESSES* r) {
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  r->IfIndex = if_nametoindex(a->ifa_name);
  r->OperStatus = (a->ifa_flags & IFF_RUNNING) ? IfOperStatusUp : IfOperStatusDown;
  std::memcpy(&r->Address, a->ifa_addr, sizeof r->Address);
  if (a->ifa_netmask) {
    sockaddr_in mask;
    std::memcpy(&mask, a->ifa_netmask, sizeof mask);
    r->PrefixLength = static_cast<uint8_t>(std::popcount(mask.sin_addr.s_addr));
  }
  std::snprintf(r->AdapterName, sizeof r->AdapterName, "%s", a->ifa_name);
  r->Flags = a->ifa_flags;
}

// Reads the MAC of one /proc/net/arp line when it is a complete entry for ip.
bool parse_arp_line(const char* line, uint32_t ip, unsigned char mac[6]) {
  char addr[64], hw[64];
  unsigned type, flags;
  if (std::sscanf(line, "%63s 0x%x 0x%x %63s", addr, &type, &flags, hw) != 4) return false;
  in_addr a;
  if (inet_pton(AF_INET, addr, &a) != 1 || a.s_addr != ip) return false;
  if (!(flags & ATF_COM)) return false;
  unsigned char m[6];
  if (std::sscanf(hw, "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx", &m[0], &m[1], &m[2], &m[3], &m[4],
                  &m[5]) != 6) {
    return false;
  }
  std::memcpy(mac, m, sizeof m);
  return true;
}

// ---- dynamic loading ----------------------------------------------------------------------------

// The last dynamic loading error of the calling thread.
thread_local char t_load_error[512];

void keep_load_error() {
  const char* e = dlerror();
  std::snprintf(t_load_error, sizeof t_load_error, "%s", e ? e : "unknown dynamic loading error");
}

// ---- critical sections and select ---------------------------------------------------------------

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::storage));
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION));

pthread_mutex_t* cs_mutex(CRITICAL_SECTION* cs) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->storage));
}

int highest_fd(const fd_set* set) {
  if (!set) return -1;
  for (int fd = FD_SETSIZE - 1; fd >= 0; --fd) {
    if (FD_ISSET(fd, set)) return fd;
  }
  return -1;
}

// ---- unloading ----------------------------------------------------------------------------------

// Runs when the library is unloaded (and at process exit). Ended threads are joined first, so
// none is still on its way out of this code; while a thread of the layer still runs (one that
// did not stop when asked, with the library kept mapped for it), everything stays in place.
// Handles and views the library never closed are given back with the rest.
__attribute__((destructor)) void release_process_state() {
  if (g_threads.load(std::memory_order_acquire) && join_ended_threads() != 0) return;
  if (Registry* r = g_registry.exchange(nullptr)) {
    for (const void* h : r->live) release(static_cast<Object*>(const_cast<void*>(h)));
    delete r;
  }
  if (Views* v = g_views.exchange(nullptr)) {
    for (const auto& [addr, len] : v->length) munmap(const_cast<void*>(addr), len);
    delete v;
  }
  delete g_threads.exchange(nullptr);
  if (const locale_t loc = g_utf8_locale.exchange(static_cast<locale_t>(0))) freelocale(loc);
}

}  // namespace

// ---- errors -------------------------------------------------------------------------------------

DWORD GetLastError(void) {
  return t_last_error;
}
void SetLastError(DWORD err) {
  t_last_error = err;
}

// ---- threads, events, waits ---------------------------------------------------------------------

int gm_threads_running() {
  Threads& all = threads();
  std::lock_guard lock(all.mu);
  return all.running;
}

HANDLE CreateThread(void*, size_t stack, LPTHREAD_START_ROUTINE fn, void* arg, DWORD,
                    DWORD* id_out) {
  if (!fn) return fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  return guarded<HANDLE>(nullptr, [&]() -> HANDLE {
    join_ended_threads();
    HANDLE h = publish(std::make_unique<ThreadObject>(fn, arg));
    auto* t = static_cast<ThreadObject*>(h);
    try {
      count_starting_thread();
    } catch (const std::exception&) {
      release(t);
      close_handle(h);
      throw;
    }
    if (const int rc = start_thread(t, stack); rc != 0) {
      count_thread_not_started();
      release(t);  // the reference the thread would have held
      close_handle(h);
      return fail(static_cast<DWORD>(rc), HANDLE{nullptr});
    }
    if (id_out) *id_out = wait_started(t);
    return h;
  });
}

HANDLE CreateEventW(void*, BOOL manual_reset, BOOL initial, LPCWSTR) {
  return guarded<HANDLE>(nullptr, [&] {
    return publish(std::make_unique<EventObject>(manual_reset != FALSE, initial != FALSE));
  });
}

BOOL SetEvent(HANDLE h) {
  Ref ref(h, kEventTag);
  if (!ref) return FALSE;
  auto* e = ref.as<EventObject>();
  Lock lock(e->mu);
  e->signalled = true;
  if (e->manual)
    pthread_cond_broadcast(&e->cv);
  else
    pthread_cond_signal(&e->cv);
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  Ref ref(h, kEventTag);
  if (!ref) return FALSE;
  Lock lock(ref.get()->mu);
  ref.get()->signalled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) {
  const Deadline d = deadline_after(ms);
  Ref ref(h, nullptr);
  if (!ref) return WAIT_FAILED;
  if (!waitable(ref.get())) return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  return wait_object(ref.get(), d);
}

DWORD WaitForMultipleObjects(DWORD n, const HANDLE* handles, BOOL wait_all, DWORD ms) {
  if (!wait_all) return fail(ERROR_NOT_SUPPORTED, WAIT_FAILED);
  if (n == 0 || !handles) return fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
  const Deadline d = deadline_after(ms);
  return guarded<DWORD>(WAIT_FAILED, [&]() -> DWORD {
    std::vector<Ref> refs;
    refs.reserve(n);
    for (DWORD i = 0; i < n; ++i) {
      refs.emplace_back(handles[i], nullptr);
      if (!refs.back()) return WAIT_FAILED;
      if (!waitable(refs.back().get())) return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    for (const Ref& r : refs) {
      if (wait_object(r.get(), d) != WAIT_OBJECT_0) return WAIT_TIMEOUT;
    }
    return WAIT_OBJECT_0;
  });
}

BOOL FindClose(HANDLE h) {
  return close_handle(h);
}
BOOL CloseHandle(HANDLE h) {
  return close_handle(h);
}

// ---- critical sections --------------------------------------------------------------------------

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
  if (!cs) return;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (cs->storage) pthread_mutex_t, &attr);
  pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(CRITICAL_SECTION* cs) {
  if (cs) pthread_mutex_lock(cs_mutex(cs));
}

void LeaveCriticalSection(CRITICAL_SECTION* cs) {
  if (cs) pthread_mutex_unlock(cs_mutex(cs));
}

void DeleteCriticalSection(CRITICAL_SECTION* cs) {
  if (cs) pthread_mutex_destroy(cs_mutex(cs));
}

// ---- file mappings ------------------------------------------------------------------------------

HANDLE CreateFileMappingW(HANDLE file, void*, DWORD, DWORD size_hi, DWORD size_lo, LPCWSTR name) {
  if (file != INVALID_HANDLE_VALUE) return fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
  const uint64_t size = (static_cast<uint64_t>(size_hi) << 32) | size_lo;
  if (size == 0 || size > static_cast<uint64_t>(INT64_MAX)) {
    return fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  }
  return guarded<HANDLE>(nullptr, [&]() -> HANDLE {
    const std::string file_name = mapping_file_name(name);
    if (file_name.empty()) return fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
    const std::string dir = gm_run_dir();
    if (const int err = make_dirs(dir); err != 0) return fail(static_cast<DWORD>(err), HANDLE{});
    auto m = std::make_unique<MappingObject>();
    m->fd = open_region_file(dir + "/" + file_name, size);
    if (m->fd < 0) return nullptr;
    m->size = size;
    return publish(std::move(m));
  });
}

void* MapViewOfFile(HANDLE mapping, DWORD, DWORD off_hi, DWORD off_lo, size_t bytes) {
  Ref ref(mapping, kMappingTag);
  if (!ref) return nullptr;
  const auto* m = ref.as<MappingObject>();
  if (off_hi != 0 || off_lo != 0 || bytes > m->size) {
    return fail(ERROR_INVALID_PARAMETER, static_cast<void*>(nullptr));
  }
  const size_t len = bytes != 0 ? bytes : static_cast<size_t>(m->size);
  void* addr = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, m->fd, 0);
  if (addr == MAP_FAILED) return fail(static_cast<DWORD>(errno), static_cast<void*>(nullptr));
  try {
    std::lock_guard lock(views().mu);
    views().length[addr] = len;
  } catch (const std::exception&) {
    munmap(addr, len);
    return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<void*>(nullptr));
  }
  return addr;
}

BOOL UnmapViewOfFile(const void* addr) {
  size_t len = 0;
  {
    std::lock_guard lock(views().mu);
    const auto it = views().length.find(addr);
    if (it == views().length.end()) return fail(ERROR_INVALID_PARAMETER, FALSE);
    len = it->second;
    views().length.erase(it);
  }
  munmap(const_cast<void*>(addr), len);
  return TRUE;
}

// ---- files --------------------------------------------------------------------------------------

int _wfopen_s(FILE** f, const wchar_t* path, const wchar_t* mode) {
  if (!f) return fail(EINVAL, EINVAL);
  *f = open_wide(path, mode);
  return *f ? 0 : static_cast<int>(t_last_error);
}

FILE* _wfsopen(const wchar_t* path, const wchar_t* mode, int) {
  return open_wide(path, mode);
}

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, void* data) {
  if (!path || !data || level != GetFileExInfoStandard) {
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  return guarded<BOOL>(FALSE, [&]() -> BOOL {
    struct stat st;
    if (stat(gm_path_utf8(path).c_str(), &st) != 0) {
      const bool missing = errno == ENOENT || errno == ENOTDIR;
      return fail(missing ? ERROR_FILE_NOT_FOUND : static_cast<DWORD>(errno), FALSE);
    }
    *static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(data) = attributes_of(st);
    return TRUE;
  });
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, void*, DWORD disposition, DWORD flags,
                   HANDLE) {
  if (!path) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  return guarded<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    int base = access_flags(access) | O_CLOEXEC;
    if (flags & FILE_FLAG_OPEN_REPARSE_POINT) base |= O_NOFOLLOW;
    auto f = std::make_unique<FileObject>();
    bool created = false;
    f->fd = open_disposed(gm_path_utf8(path), base, disposition, &created);
    if (f->fd < 0) return fail(open_error(errno), INVALID_HANDLE_VALUE);
    if (created) fchmod(f->fd, 0644);
    t_last_error = disposition == OPEN_ALWAYS && !created ? ERROR_ALREADY_EXISTS : NO_ERROR;
    return publish(std::move(f));
  });
}

BOOL LockFileEx(HANDLE file, DWORD flags, DWORD, DWORD, DWORD, OVERLAPPED*) {
  Ref ref(file, kFileTag);
  if (!ref) return FALSE;
  int op = (flags & LOCKFILE_EXCLUSIVE_LOCK) ? LOCK_EX : LOCK_SH;
  if (flags & LOCKFILE_FAIL_IMMEDIATELY) op |= LOCK_NB;
  int rc;
  while ((rc = flock(ref.as<FileObject>()->fd, op)) != 0 && errno == EINTR) {
  }
  if (rc == 0) return TRUE;
  return fail(errno == EWOULDBLOCK ? ERROR_LOCK_VIOLATION : static_cast<DWORD>(errno), FALSE);
}

BOOL UnlockFileEx(HANDLE file, DWORD, DWORD, DWORD, OVERLAPPED*) {
  Ref ref(file, kFileTag);
  if (!ref) return FALSE;
  return flock(ref.as<FileObject>()->fd, LOCK_UN) == 0 ? TRUE : fail(errno, FALSE);
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (!info) return fail(ERROR_INVALID_PARAMETER, FALSE);
  Ref ref(file, kFileTag);
  if (!ref) return FALSE;
  struct stat st {};
  if (fstat(ref.as<FileObject>()->fd, &st) != 0) return fail(static_cast<DWORD>(errno), FALSE);
  const WIN32_FILE_ATTRIBUTE_DATA a = attributes_of(st);
  const auto ino = static_cast<uint64_t>(st.st_ino);
  *info = BY_HANDLE_FILE_INFORMATION{a.dwFileAttributes,
                                     a.ftCreationTime,
                                     a.ftLastAccessTime,
                                     a.ftLastWriteTime,
                                     static_cast<DWORD>(st.st_dev),
                                     a.nFileSizeHigh,
                                     a.nFileSizeLow,
                                     static_cast<DWORD>(st.st_nlink),
                                     static_cast<DWORD>(ino >> 32),
                                     static_cast<DWORD>(ino)};
  return TRUE;
}

void Sleep(DWORD ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

BOOL DeleteFileW(LPCWSTR path) {
  if (!path) return fail(ERROR_INVALID_PARAMETER, FALSE);
  return path_call([&] { return unlink(gm_path_utf8(path).c_str()); });
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
  if (!from || !to) return fail(ERROR_INVALID_PARAMETER, FALSE);
  return path_call([&] { return rename(gm_path_utf8(from).c_str(), gm_path_utf8(to).c_str()); });
}

BOOL CreateDirectoryW(LPCWSTR path, void*) {
  if (!path) return fail(ERROR_INVALID_PARAMETER, FALSE);
  return path_call([&] { return mkdir(gm_path_utf8(path).c_str(), 0755); });
}

DWORD GetTempPathW(DWORD size, wchar_t* buf) {
  return guarded<DWORD>(
      0, [&] { return copy_out(gm_to_wide((gm_base::logs_dir() + "/").c_str()), buf, size); });
}

DWORD GetEnvironmentVariableW(LPCWSTR name, wchar_t* buf, DWORD size) {
  if (!name) return fail(ERROR_INVALID_PARAMETER, DWORD{0});
  return guarded<DWORD>(0, [&]() -> DWORD {
    const char* value = std::getenv(gm_to_utf8(name).c_str());
    if (!value) return fail(kErrorEnvvarNotFound, DWORD{0});
    return copy_out(gm_to_wide(value), buf, size);
  });
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* out) {
  if (!pattern || !out) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  return guarded<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    const std::string path = gm_path_utf8(pattern);
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    auto f = std::make_unique<FindObject>();
    f->pattern = path.substr(slash == std::string::npos ? 0 : slash + 1);
    f->dir = opendir(folder.c_str());
    if (!f->dir) {
      const bool missing = errno == ENOENT || errno == ENOTDIR;
      return fail(missing ? ERROR_FILE_NOT_FOUND : static_cast<DWORD>(errno), INVALID_HANDLE_VALUE);
    }
    if (!next_match(*f, out)) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    return publish(std::move(f));
  });
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* out) {
  if (!out) return fail(ERROR_INVALID_PARAMETER, FALSE);
  Ref ref(search, kFindTag);
  if (!ref) return FALSE;
  auto* f = ref.as<FindObject>();
  Lock lock(f->mu);
  return guarded<BOOL>(
      FALSE, [&] { return next_match(*f, out) ? TRUE : fail(ERROR_NO_MORE_FILES, FALSE); });
}

// ---- dynamic loading ----------------------------------------------------------------------------

HMODULE LoadLibraryExW(LPCWSTR path, HANDLE, DWORD) {
  if (!path) return fail(ERROR_INVALID_PARAMETER, HMODULE{nullptr});
  return guarded<HMODULE>(nullptr, [&]() -> HMODULE {
    void* lib = dlopen(gm_path_utf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) keep_load_error();
    return lib ? lib : fail(kErrorModNotFound, HMODULE{nullptr});
  });
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) return fail(ERROR_INVALID_PARAMETER, FARPROC{nullptr});
  dlerror();
  void* sym = dlsym(module, name);
  if (!sym) {
    keep_load_error();
    return fail(kErrorProcNotFound, FARPROC{nullptr});
  }
  FARPROC fn;
  static_assert(sizeof fn == sizeof sym);
  std::memcpy(&fn, &sym, sizeof fn);
  return fn;
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) return fail(ERROR_INVALID_HANDLE, FALSE);
  if (dlclose(module) == 0) return TRUE;
  keep_load_error();
  return fail(ERROR_INVALID_HANDLE, FALSE);
}

const char* gm_last_load_error(void) {
  return t_load_error;
}

// ---- text ---------------------------------------------------------------------------------------

int _vsnprintf_s(char* buf, size_t size, size_t count, const char* fmt, va_list args) {
  if (!buf || size == 0) return fail(ERROR_INVALID_PARAMETER, -1);
  buf[0] = '\0';
  if (!fmt) return fail(ERROR_INVALID_PARAMETER, -1);
  const size_t cap = std::min(count, size - 1);
  int n;
  {
    Utf8Scope utf8;
    n = std::vsnprintf(buf, cap + 1, fmt, args);
  }
  if (n < 0) {
    buf[0] = '\0';
    return fail(static_cast<DWORD>(errno), -1);
  }
  return static_cast<size_t>(n) > cap ? -1 : n;
}

int _vsnwprintf_s(wchar_t* buf, size_t size, size_t count, const wchar_t* fmt, va_list args) {
  if (!buf || size == 0) return fail(ERROR_INVALID_PARAMETER, -1);
  buf[0] = L'\0';
  if (!fmt) return fail(ERROR_INVALID_PARAMETER, -1);
  wchar_t* text = nullptr;
  size_t len = 0;
  FILE* stream = open_wmemstream(&text, &len);
  if (!stream) return fail(static_cast<DWORD>(errno), -1);
  int n;
  {
    Utf8Scope utf8;
    n = std::vfwprintf(stream, fmt, args);
  }
  std::fclose(stream);
  const size_t cap = std::min(count, size - 1);
  if (n >= 0) {
    const size_t take = std::min(len, cap);
    std::wmemcpy(buf, text, take);
    buf[take] = L'\0';
  }
  std::free(text);
  if (n < 0) return fail(ERROR_INVALID_PARAMETER, -1);
  return len > cap ? -1 : static_cast<int>(len);
}

int WideCharToMultiByte(UINT codepage, DWORD, const wchar_t* in, int len, char* out, int outlen,
                        const char*, BOOL* used_default) {
  if (codepage != CP_UTF8 || !in || len == 0 || len < -1 || outlen < 0 || (outlen > 0 && !out)) {
    return fail(ERROR_INVALID_PARAMETER, 0);
  }
  if (used_default) *used_default = FALSE;
  return guarded<int>(0, [&] {
    const size_t n = len == -1 ? std::wcslen(in) + 1 : static_cast<size_t>(len);
    return copy_converted(encode(in, n), out, outlen);
  });
}

int MultiByteToWideChar(UINT codepage, DWORD, const char* in, int len, wchar_t* out, int outlen) {
  if (codepage != CP_UTF8 || !in || len == 0 || len < -1 || outlen < 0 || (outlen > 0 && !out)) {
    return fail(ERROR_INVALID_PARAMETER, 0);
  }
  return guarded<int>(0, [&] {
    const size_t n = len == -1 ? std::strlen(in) + 1 : static_cast<size_t>(len);
    return copy_converted(decode(in, n), out, outlen);
  });
}

void GetLocalTime(SYSTEMTIME* out) {
  if (!out) return;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  localtime_r(&ts.tv_sec, &t);
  *out = SYSTEMTIME{static_cast<WORD>(t.tm_year + 1900), static_cast<WORD>(t.tm_mon + 1),
                    static_cast<WORD>(t.tm_wday),        static_cast<WORD>(t.tm_mday),
                    static_cast<WORD>(t.tm_hour),        static_cast<WORD>(t.tm_min),
                    static_cast<WORD>(t.tm_sec),         static_cast<WORD>(ts.tv_nsec / 1000000)};
}

// ---- sockets ------------------------------------------------------------------------------------

SOCKET gm_socket(int domain, int type, int protocol) {
  return sys(socket(domain, type | SOCK_CLOEXEC, protocol));
}

int gm_closesocket(SOCKET s) {
  return sys(close(s));
}

ssize_t gm_send(SOCKET s, const void* buf, size_t len, int flags) {
  return sys(send(s, buf, len, flags | MSG_NOSIGNAL));
}

ssize_t gm_sendto(SOCKET s, const void* buf, size_t len, int flags, const struct sockaddr* to,
                  socklen_t tolen) {
  return sys(sendto(s, buf, len, flags | MSG_NOSIGNAL, to, tolen));
}

int gm_setsockopt(SOCKET s, int level, int name, const void* value, socklen_t len) {
  const bool timeout = level == SOL_SOCKET && (name == SO_SNDTIMEO || name == SO_RCVTIMEO);
  if (!timeout || len != sizeof(DWORD) || !value)
    return sys(setsockopt(s, level, name, value, len));
  DWORD ms;
  std::memcpy(&ms, value, sizeof ms);
  const timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  return sys(setsockopt(s, level, name, &tv, sizeof tv));
}

int gm_getsockopt(SOCKET s, int level, int name, void* value, socklen_t* len) {
  return sys(getsockopt(s, level, name, value, len));
}

int gm_select(int nfds, fd_set* r, fd_set* w, fd_set* e, struct timeval* tv) {
  if (nfds <= 0) nfds = std::max({highest_fd(r), highest_fd(w), highest_fd(e)}) + 1;
  return sys(select(nfds, r, w, e, tv));
}

// ---- network adapters ---------------------------------------------------------------------------

ULONG GetAdaptersAddresses(ULONG family, ULONG, void*, IP_ADAPTER_ADDRESSES* buf, ULONG* size) {
  if (family != AF_INET) return ERROR_NOT_SUPPORTED;
  if (!size) return ERROR_INVALID_PARAMETER;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return fail(static_cast<DWORD>(errno), ERROR_NO_DATA);
  const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);
  ULONG count = 0;
  for (const ifaddrs* a = list; a; a = a->ifa_next) count += listed_adapter(a) ? 1 : 0;
  if (count == 0) return ERROR_NO_DATA;
  const ULONG needed = count * static_cast<ULONG>(sizeof(IP_ADAPTER_ADDRESSES));
  if (!buf || *size < needed) {
    *size = needed;
    return ERROR_BUFFER_OVERFLOW;
  }
  IP_ADAPTER_ADDRESSES* r = buf;
  for (const ifaddrs* a = list; a; a = a->ifa_next) {
    if (!listed_adapter(a)) continue;
    fill_adapter(a, r);
    r->Next = --count > 0 ? r + 1 : nullptr;
    ++r;
  }
  return NO_ERROR;
}

DWORD SendARP(uint32_t dest_ip, uint32_t, void* mac, ULONG* len) {
  if (!mac || !len || *len < 6) return ERROR_INVALID_PARAMETER;
  FILE* table = std::fopen("/proc/net/arp", "re");
  if (!table) return kErrorBadNetName;
  char line[512];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, table)) {
    found = parse_arp_line(line, dest_ip, static_cast<unsigned char*>(mac));
  }
  std::fclose(table);
  if (!found) return kErrorBadNetName;
  *len = 6;
  return NO_ERROR;
}

// ---- helpers ------------------------------------------------------------------------------------

std::string gm_to_utf8(const wchar_t* w) {
  return w ? encode(w, std::wcslen(w)) : std::string();
}

std::wstring gm_to_wide(const char* s) {
  return s ? decode(s, std::strlen(s)) : std::wstring();
}

std::string gm_path_utf8(const wchar_t* w) {
  std::string path = gm_to_utf8(w);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string gm_home_dir() {
  return gm_base::home_dir();
}

std::string gm_run_dir() {
  return gm_base::run_dir();
}

uint64_t gm_now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}
