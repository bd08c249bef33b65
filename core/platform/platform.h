// The one seam between the app core and the operating system: processes, bundles, helper
// programs, opening applications and the network interfaces. The rest of the core reaches the OS
// only through plain POSIX file and socket calls.
//
// Every function here keeps no shared state, may be called from any thread at the same time as
// any other, never throws and never logs. Failures read as an empty result, false or -1, as each
// function says.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace gm {

// ---- processes ----------------------------------------------------------------------------------

// The ids of the processes now running, in the order the system lists them. Empty when the
// process table cannot be listed. Does not block beyond reading the table.
std::vector<uint32_t> process_ids();

// A number that changes whenever a process (or thread) is created on the machine, so that a caller
// can tell that nothing is new since it last listed the processes without listing them. 0 when
// the platform cannot tell; then every listing may hold something new.
uint64_t process_creation_mark();

// The process's short name (at most 32 characters), or "" when it cannot be read (no such
// process, or no permission).
std::string process_name(uint32_t pid);

// When the process started, in wall-clock seconds and microseconds since the epoch. False (and
// the outputs untouched) when it cannot be read.
bool process_start_time(uint32_t pid, int64_t* seconds, int64_t* micros);

// The process's open descriptors, in ascending order. Empty when the process cannot be inspected.
// Lists them without looking at what they hold.
std::vector<int> process_descriptors(uint32_t pid);

// The path of the file the process holds open as descriptor `fd`; "" for sockets, pipes and
// other descriptors without a path, and when it cannot be read.
std::string process_open_file(uint32_t pid, int fd);

// The full path of this process's executable, or "" when unknown.
std::string executable_path();

// ---- bundles
// --------------------------------------------------------------------------------------

// The string values of a bundle's info dictionary (<bundle>/Contents/Info.plist, XML or binary),
// by key; keys whose value is not a string are left out. False (out cleared) when the file is
// missing, unreadable, larger than 1 MiB or not a dictionary.
bool read_bundle_info(const std::string& bundle, std::map<std::string, std::string>* out);

// ---- helper programs ---------------------------------------------------------------------------

// Runs argv[0] (a full path; PATH is not searched) with the further arguments and this process's
// environment, and waits for it. With `output`, the program's standard output and error are
// appended to it; without, they go to /dev/null. A program still running after timeout_seconds
// (whole seconds of the wall clock) is killed and reaped.
// Returns the exit status (0-255), or -1 when argv is empty, the program cannot be started, it
// was ended by a signal, it timed out, or waiting for it failed.
// Blocks the calling thread until the program ends or is killed; call it off the UI thread.
int run(const std::vector<std::string>& argv, std::string* output, int timeout_seconds);

// Runs the shell command `command` as root behind the system's administrator prompt and waits
// for it, reading back as osascript does for `script` (an AppleScript "do shell script ... with
// administrator privileges" text, which is what runs it on macOS). Here pkexec runs
// "/bin/sh -c command"; the build that carries the tests takes the elevation program from
// GAINMESH_TEST_ELEVATE instead when that is set. The command's standard output and error are
// appended to `output`. Returns 0 when the command succeeded; when the elevation program itself
// reports that the prompt was dismissed or authorisation refused, "User canceled. (-128)" is
// appended and the result is 1 (a command that could not start is not a refusal); otherwise the
// status of the command, or -1 as for run() (with a line saying so when the elevation program is
// missing). Blocks until the command ends or timeout_seconds pass; call it off the UI thread.
int run_as_administrator(const std::string& script, const std::string& command, std::string* output,
                         int timeout_seconds);

// Opens an application or a document. A path ending in ".app" starts the bundle's executable
// (Contents/MacOS/<CFBundleExecutable>) detached from this process, in a session of its own, with
// `args`; it outlives this process and is never left as its zombie. A second instance is started
// whether or not `new_instance` is set. Anything else is handed to the desktop's opener
// (xdg-open), which takes no arguments; `args` are ignored then.
// True when the application was started, or the opener exited with status 0. Blocks until the
// executable has started, or while the opener runs (at most 120 s).
bool open_path(const std::string& path, const std::vector<std::string>& args, bool new_instance);

// ---- network interfaces ------------------------------------------------------------------------

// One IPv4 address of a network interface, addresses in host byte order.
struct NetIface {
  std::string name;
  uint32_t addr = 0;
  uint32_t mask = 0;
  bool up = false;
  bool broadcast = false;  // the interface can broadcast
  bool loopback = false;
  unsigned index = 0;  // the interface index, never 0 in a listed entry
};

// Every IPv4 address of every interface, in the order the system lists them (an interface with
// several addresses appears once per address). Empty when the list cannot be read. Does not block.
std::vector<NetIface> ipv4_interfaces();

// Ties socket fd to interface `index`: it then sends only through that interface and receives
// only what arrived on it. False when the interface is unknown or the system refused (on Linux
// SO_BINDTODEVICE needs CAP_NET_RAW); the socket is left as it was.
bool bind_to_interface(int fd, unsigned index);

// ---- system -----------------------------------------------------------------------------------

// The major number of the macOS release (kern.osproductversion), read once per process: 0 when it
// cannot be read, -1 on a system that is not macOS (this one), which has no per-app Local Network
// permission.
int os_macos_major();

// The system's release as a person reads it (what sw_vers -productVersion prints on a Mac; here
// PRETTY_NAME of /etc/os-release, else of /usr/lib/os-release), or "" when it cannot be read.
// Reads one small file; no state.
std::string os_version_text();

// ---- archives ---------------------------------------------------------------------------------

// Packs the folder `folder` into the zip archive `zip_path` as ditto -c -k --keepParent does: the
// folder's own name is the top entry, every folder below it an entry of its own (with a trailing
// "/"), and every regular file its contents, compressed; symbolic links and other special files
// are left out. The archive is written into a new file beside its target (never through anything
// already at that name), flushed to disk and renamed into place, and then the folder is flushed,
// so a failure leaves whatever was at zip_path untouched and no partial file, and an archive
// reported written survives a power cut. False when the folder cannot be read or the archive
// cannot be written. Runs in this process; blocks for the reading and writing.
bool zip_folder(const std::string& folder, const std::string& zip_path);

// ---- files of the installed bundle -------------------------------------------------------------

// The name of macOS's download flag as this platform stores it (an extended attribute).
extern const char* const kQuarantineAttribute;

// Removes the download flag from the path itself, never following a symbolic link. True when the
// flag is gone afterwards: removed, never there, or a path that cannot carry one (a symbolic
// link, a file system without extended attributes). False when the path cannot be examined or
// the flag could not be removed. Blocks on the file system only.
bool remove_quarantine(const std::string& path);

// ---- app bundles as archives and copies ------------------------------------------------------

// Unpacks the zip archive held in `bytes` into the existing folder `dir` (what "ditto -x -k"
// does), keeping each entry's permission bits and modification time. The whole archive is
// refused before anything is written when any entry has an empty or absolute path or a ".."
// component, is neither a folder, a file nor a symbolic link, or is a symbolic link whose target
// is absolute or leads out of `dir` (resolved from the link's folder; a ".." after another link
// of the archive counts as leading out). Nothing is ever written through a symbolic link. False
// when the archive was refused, cannot be read, or an entry could not be written (the entries
// written before it stay). Blocks on the file system; may be called from any thread.
bool unpack_zip(const std::string& bytes, const std::string& dir);

// Copies the tree at `from` to `to`, which must not exist yet (what "ditto from to" does):
// folders, files with their permission bits, symbolic links as links. False when anything could
// not be copied; what was copied by then stays. Blocks on the file system.
bool copy_tree(const std::string& from, const std::string& to);

}  // namespace gm
