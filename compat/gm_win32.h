// gm_win32: the wing module's platform layer.
//
// The module is written against a small set of Win32-named operations (threads, events, waits,
// handles, file mappings, wide-character files, sockets, adapter lists). This header declares
// them and the POSIX implementation in gm_win32.cpp provides them, so that the module code above
// stays the same on every platform.
//
// Contracts common to every operation:
// - Nothing throws. Failures return the Win32-style value (null, false/0, 0xFFFFFFFF) and keep the
//   system error for GetLastError() (per thread).
// - Every operation is safe to call from any thread. Each handle guards its own state; a handle
//   may be closed by one thread while another thread waits on it or while a thread ends.
// - Null, all-ones (INVALID_HANDLE_VALUE) and foreign pointers are rejected as bad handles.
// - Wide strings are wchar_t (32-bit code points); paths are converted to UTF-8 with every '\'
//   turned into '/'.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

typedef void* HANDLE;
typedef void* HMODULE;
typedef void (*FARPROC)(void);
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int BOOL;
typedef wchar_t WCHAR;
typedef const wchar_t* LPCWSTR;
typedef DWORD (*LPTHREAD_START_ROUTINE)(void* arg);

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_NO_DATA 232u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_LOCK_VIOLATION 33u
#define ERROR_FILE_EXISTS 80u
#define ERROR_ALREADY_EXISTS 183u

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define FILE_MAP_WRITE 0x02u
#define FILE_MAP_READ 0x04u
#define FILE_MAP_ALL_ACCESS 0xF001Fu

#define MAXDWORD 0xFFFFFFFFu

#define _SH_DENYNO 0x40
#define _TRUNCATE ((size_t)-1)
#define CP_UTF8 65001u
#define MAX_PATH 260

// ---- errors ---------------------------------------------------------------------------------

// The last error of the calling thread (an errno value or one of the ERROR_ codes above).
DWORD GetLastError(void);
void SetLastError(DWORD err);

// ---- threads, events, waits -----------------------------------------------------------------

// Starts a thread running fn(arg) with a stack of at least 1 MiB (a larger request is honoured).
// Returns its handle (signalled once fn has returned), or null. When id_out is given it receives
// the system thread id. attr and flags are ignored. Close the handle with FindClose or
// CloseHandle; the thread keeps its own reference until it ends. Nobody joins it: the layer reaps
// ended threads itself (at the next CreateThread and when the library is unloaded).
HANDLE CreateThread(void* attr, size_t stack, LPTHREAD_START_ROUTINE fn, void* arg, DWORD flags,
                    DWORD* id_out);
// How many threads of the layer have not returned from their function yet. Any thread.
int gm_threads_running();

// A new event, manual-reset or auto-reset, set or clear at first. The name is ignored.
HANDLE CreateEventW(void* attr, BOOL manual_reset, BOOL initial, LPCWSTR name);

// Sets the event (wakes every waiter of a manual-reset event, one waiter of an auto-reset event)
// or clears it. False for a bad handle or a handle that is not an event.
BOOL SetEvent(HANDLE h);
BOOL ResetEvent(HANDLE h);

// Blocks until the thread or event is signalled or ms milliseconds pass (INFINITE = forever).
// Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED (bad handle). A successful wait on an
// auto-reset event clears it.
DWORD WaitForSingleObject(HANDLE h, DWORD ms);

// Only wait_all is supported (otherwise WAIT_FAILED): waits for each handle in turn against one
// deadline. WAIT_OBJECT_0 when all are signalled, WAIT_TIMEOUT when the deadline passes first.
DWORD WaitForMultipleObjects(DWORD n, const HANDLE* handles, BOOL wait_all, DWORD ms);

// The general close for every handle kind (thread, event, mapping, directory search, file):
// drops one reference. False for a bad handle.
BOOL FindClose(HANDLE h);
BOOL CloseHandle(HANDLE h);

// ---- critical sections (recursive mutexes) --------------------------------------------------

struct CRITICAL_SECTION {
  alignas(8) unsigned char storage[64];
};
void InitializeCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);

// ---- file mappings --------------------------------------------------------------------------

// Only the form without a file (file == INVALID_HANDLE_VALUE) is supported. A name beginning
// "Local\" loses that prefix, every '\' and '/' in it becomes '_', and the file
// <home>/Library/Application Support/Gainmesh/run/<name> is created if missing (folders too;
// mode 0644) and grown to the requested size when shorter. Returns a mapping handle or null.
HANDLE CreateFileMappingW(HANDLE file, void* attr, DWORD protect, DWORD size_hi, DWORD size_lo,
                          LPCWSTR name);

// Maps `bytes` (0 = the whole mapping; never more than its size) from offset 0, read-write and
// shared. Offsets other than 0 are refused. Returns the address or null.
void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD off_hi, DWORD off_lo, size_t bytes);

// Unmaps a view returned by MapViewOfFile. False when the address is not a recorded view.
BOOL UnmapViewOfFile(const void* addr);

// ---- files ----------------------------------------------------------------------------------

// Open a file by wide path with a wide mode handed to the C library; the share flag is ignored.
// _wfopen_s returns 0 or the errno value and sets *f (null on failure).
int _wfopen_s(FILE** f, const wchar_t* path, const wchar_t* mode);
FILE* _wfsopen(const wchar_t* path, const wchar_t* mode, int share);

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u

// Size and times (100 ns units since 1601, as Win32) of a file. False when it does not exist.
BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, void* data);

// Files as handles, and advisory locks on them.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define LOCKFILE_FAIL_IMMEDIATELY 0x1u
#define LOCKFILE_EXCLUSIVE_LOCK 0x2u

struct OVERLAPPED {
  uintptr_t Internal;
  uintptr_t InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};

// Opens a file by wide path as a handle (close it with CloseHandle), close-on-exec. access:
// GENERIC_READ and / or GENERIC_WRITE. disposition: CREATE_NEW (fails with ERROR_FILE_EXISTS
// when anything is at the path), CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS (sets
// ERROR_ALREADY_EXISTS when the file was there) or TRUNCATE_EXISTING. A file it creates gets mode
// 0644 whatever the umask. FILE_FLAG_OPEN_REPARSE_POINT in flags refuses a symbolic link at the
// path instead of following it. The share mode, security attributes, other flags and the
// template are ignored. Returns INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file);

// Locks the whole file, whatever range is given, against every other handle, in this process
// or another (flock: the lock belongs to the handle and ends when the handle is closed):
// exclusive with LOCKFILE_EXCLUSIVE_LOCK, else shared. With LOCKFILE_FAIL_IMMEDIATELY a lock held
// elsewhere fails the call at once with ERROR_LOCK_VIOLATION; without it the call blocks until the
// lock is free. The overlapped structure may be null and is not used.
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytes_low, DWORD bytes_high,
                OVERLAPPED* overlapped);
BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytes_low, DWORD bytes_high,
                  OVERLAPPED* overlapped);

// What identifies an open file, and its size and times: dwVolumeSerialNumber with
// nFileIndexHigh / nFileIndexLow name the same file for every handle opened on it, and another
// once the path names another file (device and inode here).
struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
// False for a handle that is not a file of CreateFileW.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);

// Blocks the calling thread for ms milliseconds.
void Sleep(DWORD ms);

BOOL DeleteFileW(LPCWSTR path);
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
BOOL CreateDirectoryW(LPCWSTR path, void* attr);

// Writes "<home>/Library/Logs/Gainmesh/" and returns its length in characters (without the
// NUL); when the buffer is too small, returns the size needed (with the NUL) and writes nothing.
DWORD GetTempPathW(DWORD size, wchar_t* buf);

// Copies the variable's value; returns its length, the size needed (with the NUL) when the
// buffer is too small, or 0 when the variable is not set.
DWORD GetEnvironmentVariableW(LPCWSTR name, wchar_t* buf, DWORD size);

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  wchar_t cFileName[MAX_PATH];
};

// Directory listing: the pattern is a folder path whose last element may hold '*' and '?'.
// Returns a search handle and the first match, or INVALID_HANDLE_VALUE when nothing matches.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* out);
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* out);

// ---- dynamic loading ------------------------------------------------------------------------

// dlopen / dlsym / dlclose; the last dlerror text is kept for gm_last_load_error().
HMODULE LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags);
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
const char* gm_last_load_error(void);

// ---- text -----------------------------------------------------------------------------------

// Formats at most `count` characters (all when count is _TRUNCATE) into `size` bytes, always
// NUL-terminated when size > 0. Returns the length written, or -1 when the text was cut or the
// format failed. "%S" takes a wide string and writes it as UTF-8, whatever the process locale.
int _vsnprintf_s(char* buf, size_t size, size_t count, const char* fmt, va_list args);
int _vsnwprintf_s(wchar_t* buf, size_t size, size_t count, const wchar_t* fmt, va_list args);

// Only CP_UTF8 is supported. With len -1 the input is NUL-terminated and the NUL is counted.
// With outlen 0 the size needed is returned. Returns 0 on failure.
int WideCharToMultiByte(UINT codepage, DWORD flags, const wchar_t* in, int len, char* out,
                        int outlen, const char* default_char, BOOL* used_default);
int MultiByteToWideChar(UINT codepage, DWORD flags, const char* in, int len, wchar_t* out,
                        int outlen);

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
void GetLocalTime(SYSTEMTIME* out);

// ---- sockets --------------------------------------------------------------------------------

typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)

// A socket with close-on-exec set. SIGPIPE is suppressed for every send made through gm_send /
// gm_sendto (MSG_NOSIGNAL); use those, never send() directly.
SOCKET gm_socket(int domain, int type, int protocol);
int gm_closesocket(SOCKET s);
ssize_t gm_send(SOCKET s, const void* buf, size_t len, int flags);
ssize_t gm_sendto(SOCKET s, const void* buf, size_t len, int flags, const struct sockaddr* to,
                  socklen_t tolen);

// As setsockopt, except that SO_SNDTIMEO / SO_RCVTIMEO given as a 4-byte value are taken as
// milliseconds and converted.
int gm_setsockopt(SOCKET s, int level, int name, const void* value, socklen_t len);
int gm_getsockopt(SOCKET s, int level, int name, void* value, socklen_t* len);

// As select, except that when nfds is 0 or negative the highest descriptor present in any of
// the sets plus one is used.
int gm_select(int nfds, fd_set* r, fd_set* w, fd_set* e, struct timeval* tv);

// ---- network adapters -----------------------------------------------------------------------

#define IfOperStatusUp 1u
#define IfOperStatusDown 2u

// One IPv4 interface (72 bytes). Records are chained through Next inside the caller's buffer.
struct IP_ADAPTER_ADDRESSES {
  IP_ADAPTER_ADDRESSES* Next;
  uint32_t IfIndex;
  uint32_t OperStatus;    // IfOperStatusUp when the interface is running
  sockaddr_in Address;    // its IPv4 address
  uint8_t PrefixLength;   // bits set in the netmask
  uint8_t Reserved[3];
  char AdapterName[32];   // interface name, NUL-terminated
  uint32_t Flags;
};
static_assert(sizeof(IP_ADAPTER_ADDRESSES) == 72, "adapter record is 72 bytes");

// IPv4 only (other families fail with ERROR_NOT_SUPPORTED). Lists the interfaces that are up and
// not loopback, one record per address. When *size is too small returns ERROR_BUFFER_OVERFLOW
// and sets *size to what is needed; NO_ERROR on success; ERROR_NO_DATA when there is none.
ULONG GetAdaptersAddresses(ULONG family, ULONG flags, void* reserved, IP_ADAPTER_ADDRESSES* buf,
                           ULONG* size);

// The MAC of an IPv4 neighbour (network byte order address) from the system's ARP table.
// mac must hold *len >= 6 bytes; on success *len is 6 and NO_ERROR is returned.
DWORD SendARP(uint32_t dest_ip, uint32_t src_ip, void* mac, ULONG* len);

// ---- helpers shared by the module -----------------------------------------------------------

// Plain UTF-8 encoding of a wide string and back (null gives the empty string).
std::string gm_to_utf8(const wchar_t* w);
std::wstring gm_to_wide(const char* s);
// A wide path as a UTF-8 path with every '\' turned into '/'.
std::string gm_path_utf8(const wchar_t* w);
// The home folder and the run folder below it (gm_base::home_dir() and gm_base::run_dir()).
std::string gm_home_dir();
std::string gm_run_dir();
// Monotonic milliseconds.
uint64_t gm_now_ms();
