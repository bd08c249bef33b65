// Named file mappings, wide-path files, attributes, directory listing and the home folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "gm_win32.h"
#include "support/temp_home.h"

namespace {

using gmtest::file_exists;
using gmtest::read_file;
using gmtest::wide;

HANDLE make_mapping(LPCWSTR name, DWORD size) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
}

HANDLE open_file(const std::string& path, DWORD disposition, DWORD flags = 0) {
  return CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

bool try_lock(HANDLE h) {
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                    nullptr);
}

uint64_t ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

class CompatMappings : public gmtest::TempHomeTest {
 protected:
  std::string run_file(const std::string& name) const { return home_.run_dir() + "/" + name; }
};

TEST_F(CompatMappings, NameIsMadeSafeAndFoldersAreCreated) {
  ASSERT_FALSE(file_exists(home_.run_dir()));
  const mode_t old_mask = umask(0);
  HANDLE h = make_mapping(L"Local\\gm\\status/7", 4096);
  umask(old_mask);
  ASSERT_NE(h, nullptr);
  struct stat st;
  ASSERT_EQ(stat(run_file("gm_status_7").c_str(), &st), 0);
  EXPECT_EQ(std::pair(st.st_mode & 0777, st.st_size), std::pair(0644u, off_t{4096}));
  FindClose(h);
  EXPECT_EQ(make_mapping(L"Local\\..", 4096), nullptr);
}

// That a longer file is left as it is, StatusBlock.FreshBlockHoldsOnlyMagicAndVersion... checks
// (tests/module/test_bridge_status.cpp).
TEST_F(CompatMappings, GrowAShorterFileViewsShareItStayInsideItAndAreUnmappedWhole) {
  home_.write("Library/Application Support/Gainmesh/run/views", "0123456789");
  HANDLE m = make_mapping(L"Local\\views", 8192);
  auto* whole = static_cast<char*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto* part = static_cast<char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 100));
  ASSERT_NE(whole, nullptr);
  ASSERT_NE(part, nullptr);
  FindClose(m);  // views outlive their mapping handles
  EXPECT_EQ(std::string(whole, 10), "0123456789");
  std::memcpy(whole, "hello", 5);
  std::memcpy(whole + 8000, "tail", 4);
  EXPECT_EQ(std::string(part, 5), "hello");
  EXPECT_EQ(read_file(run_file("views")).substr(8000), std::string("tail") + std::string(188, 0));

  EXPECT_TRUE(UnmapViewOfFile(whole));
  EXPECT_EQ(msync(whole + 4096, 4096, MS_ASYNC), -1);  // both pages are gone
  EXPECT_FALSE(UnmapViewOfFile(whole));
  EXPECT_TRUE(UnmapViewOfFile(part));

  HANDLE small = make_mapping(L"small", 4096);
  EXPECT_EQ(MapViewOfFile(small, FILE_MAP_ALL_ACCESS, 0, 0, 4097), nullptr);
  FindClose(small);
}

class CompatFiles : public gmtest::TempHomeTest {};

TEST_F(CompatFiles, OpenByWidePathWithCloseOnExec) {
  home_.write("Grüße/ñ.txt", "abc");
  const std::wstring dir = wide(home_.path()) + L"\\Grüße\\";
  FILE* f = _wfsopen((dir + L"ñ.txt").c_str(), L"r", _SH_DENYNO);
  ASSERT_NE(f, nullptr);
  char text[4] = {};
  EXPECT_EQ(std::fread(text, 1, 3, f), 3u);
  EXPECT_STREQ(text, "abc");
  EXPECT_TRUE(fcntl(fileno(f), F_GETFD) & FD_CLOEXEC);
  std::fclose(f);
  EXPECT_EQ(_wfopen_s(&f, (dir + L"missing").c_str(), L"r"), ENOENT);
  EXPECT_EQ(f, nullptr);
}

TEST_F(CompatFiles, FileHandlesAreMadeOrOpenedAsToldAndLockAgainstEachOtherUntilClosed) {
  const std::string path = home_.path() + "/wing.cfg.lock";
  const mode_t old_mask = umask(077);
  HANDLE a = open_file(path, OPEN_ALWAYS);
  umask(old_mask);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), NO_ERROR);
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0644));
  HANDLE b = open_file(path, OPEN_ALWAYS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(open_file(path + ".missing", OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  const std::string link = home_.path() + "/link.lock";
  ASSERT_EQ(symlink((home_.path() + "/elsewhere").c_str(), link.c_str()), 0);
  EXPECT_EQ(open_file(link, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file_exists(home_.path() + "/elsewhere"));

  ASSERT_TRUE(try_lock(a));
  EXPECT_FALSE(try_lock(b));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_TRUE(UnlockFileEx(a, 0, MAXDWORD, MAXDWORD, nullptr));
  ASSERT_TRUE(try_lock(b));
  EXPECT_FALSE(try_lock(a));
  EXPECT_TRUE(CloseHandle(b));  // closing the handle ends its lock
  EXPECT_TRUE(try_lock(a));
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_FALSE(try_lock(a));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(CompatFiles, AttributesGiveSizeAndSubSecondWriteTimes) {
  const std::string path = home_.write("a.bin", std::string(5000, 'x'));
  timespec times[2] = {{1700000000, 0}, {1700000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(std::tuple(data.nFileSizeLow, data.nFileSizeHigh, data.dwFileAttributes),
            std::tuple(5000u, 0u, FILE_ATTRIBUTE_NORMAL));
  const uint64_t first = ticks(data.ftLastWriteTime);

  times[1].tv_nsec = 923456789;  // a later edit within the same second
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  ASSERT_TRUE(GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(ticks(data.ftLastWriteTime) - first, 8000000u);
  EXPECT_FALSE(GetFileAttributesExW(wide(path + ".missing").c_str(), GetFileExInfoStandard, &data));
}

TEST_F(CompatFiles, FindListsMatchesTempPathIsTheLogsFolderAndHomeFallsBackToHome) {
  for (const char* name : {"a.log", "ab.txt"}) home_.write(name, "12");
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((wide(home_.path()) + L"\\*.log").c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(gm_to_utf8(data.cFileName), "a.log");
  EXPECT_FALSE(FindNextFileW(search, &data));
  FindClose(search);

  wchar_t buf[1024];
  ASSERT_GT(GetTempPathW(1024, buf), 0u);
  EXPECT_EQ(std::wstring(buf), wide(home_.logs_dir() + "/"));
  setenv("GAINMESH_HOME", "", 1);
  setenv("HOME", "/elsewhere", 1);
  EXPECT_EQ(gm_home_dir(), "/elsewhere");
}

}  // namespace
