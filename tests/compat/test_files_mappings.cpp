// Named file mappings, wide-path files, attributes, directory listing and the home folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "gm_win32.h"
#include "support/temp_home.h"

namespace {

using gmtest::file_exists;
using gmtest::read_file;
using gmtest::wide;

off_t size_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

HANDLE make_mapping(LPCWSTR name, DWORD size) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
}

uint64_t ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// The names a search yields, checking that it ends with ERROR_NO_MORE_FILES.
std::set<std::string> list(const std::wstring& pattern) {
  std::set<std::string> names;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.insert(gm_to_utf8(data.cFileName));
  while (FindNextFileW(search, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(search));
  return names;
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
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(st.st_size, 4096);
  FindClose(h);

  for (LPCWSTR bad : {L"", L"Local\\", L"..", L"Local\\.."})
    EXPECT_EQ(make_mapping(bad, 4096), nullptr);
  EXPECT_EQ(make_mapping(L"empty", 0), nullptr);
  EXPECT_EQ(CreateFileMappingW(nullptr, nullptr, PAGE_READWRITE, 0, 4096, L"x"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
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
  EXPECT_EQ(size_of(run_file("views")), 8192);
  EXPECT_EQ(std::string(whole, 10), "0123456789");
  std::memcpy(whole, "hello", 5);
  std::memcpy(whole + 8000, "tail", 4);
  EXPECT_EQ(std::string(part, 5), "hello");
  EXPECT_EQ(read_file(run_file("views")).substr(8000, 4), "tail");

  HANDLE again = make_mapping(L"Local\\views", 8192);
  auto* other = static_cast<char*>(MapViewOfFile(again, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(std::string(other, 5), "hello");
  FindClose(m);
  FindClose(again);
  whole[1] = 'a';  // views outlive their mapping handles
  EXPECT_EQ(other[1], 'a');

  EXPECT_TRUE(UnmapViewOfFile(whole));
  EXPECT_EQ(msync(whole + 4096, 4096, MS_ASYNC), -1);  // both pages are gone
  int local = 0;
  EXPECT_FALSE(UnmapViewOfFile(whole) || UnmapViewOfFile(&local));
  EXPECT_TRUE(UnmapViewOfFile(part) && UnmapViewOfFile(other));

  // Views past the end or at an offset are refused; a mapping is never waited on.
  HANDLE small = make_mapping(L"small", 4096);
  EXPECT_EQ(MapViewOfFile(small, FILE_MAP_ALL_ACCESS, 0, 0, 4097), nullptr);
  EXPECT_EQ(MapViewOfFile(small, FILE_MAP_ALL_ACCESS, 0, 4096, 100), nullptr);
  EXPECT_EQ(WaitForSingleObject(small, 0), WAIT_FAILED);
  FindClose(small);
}

class CompatFiles : public gmtest::TempHomeTest {};

TEST_F(CompatFiles, OpenByWidePathWithCloseOnExec) {
  home_.write("Grüße/ñ.txt", "abc");
  const std::wstring dir = wide(home_.path()) + L"\\Grüße\\";
  FILE* f = nullptr;
  ASSERT_EQ(_wfopen_s(&f, (dir + L"ñ.txt").c_str(), L"rb"), 0);
  char text[4] = {};
  EXPECT_EQ(std::fread(text, 1, 3, f), 3u);
  EXPECT_STREQ(text, "abc");
  EXPECT_TRUE(fcntl(fileno(f), F_GETFD) & FD_CLOEXEC);
  std::fclose(f);
  EXPECT_EQ(_wfopen_s(&f, (dir + L"missing").c_str(), L"r"), ENOENT);
  EXPECT_EQ(f, nullptr);
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
  EXPECT_EQ(first, 116444736000000000ull + 1700000000ull * 10000000 + 1234567);

  times[1].tv_nsec = 923456789;  // a later edit within the same second
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  ASSERT_TRUE(GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(ticks(data.ftLastWriteTime) - first, 8000000u);

  ASSERT_TRUE(GetFileAttributesExW(wide(home_.path()).c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(GetFileAttributesExW(wide(path + ".missing").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(CompatFiles, FindMatchesTheLastPathElement) {
  for (const char* name : {"a.log", "b.log", "ab.txt", "sub.log/x.log"}) home_.write(name, "12");
  const std::wstring dir = wide(home_.path());
  EXPECT_EQ(list(dir + L"\\*.log"), (std::set<std::string>{"a.log", "b.log", "sub.log"}));
  EXPECT_EQ(list(dir + L"/?.log"), (std::set<std::string>{"a.log", "b.log"}));
  EXPECT_EQ(list(dir + L"/sub.log/*"), (std::set<std::string>{"x.log"}));

  WIN32_FIND_DATAW data;
  HANDLE one = FindFirstFileW((dir + L"/sub.log").c_str(), &data);
  ASSERT_NE(one, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(one);
  EXPECT_EQ(FindFirstFileW((dir + L"/*.none").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW((dir + L"/no-folder/*").c_str(), &data), INVALID_HANDLE_VALUE);
}

TEST_F(CompatFiles, HomePrefersGainmeshHomeThenHomeAndTempPathReportsTheSizeNeeded) {
  const std::wstring expected = wide(home_.logs_dir() + "/");
  wchar_t small[4] = {L'#'};
  EXPECT_EQ(GetTempPathW(4, small), expected.size() + 1);
  EXPECT_EQ(small[0], L'#');
  std::vector<wchar_t> buf(expected.size() + 1);
  EXPECT_EQ(GetTempPathW(static_cast<DWORD>(buf.size()), buf.data()), expected.size());
  EXPECT_EQ(std::wstring(buf.data()), expected);

  EXPECT_EQ(gm_home_dir(), home_.path());
  EXPECT_EQ(gm_run_dir(), home_.run_dir());
  setenv("GAINMESH_HOME", "", 1);
  setenv("HOME", "/elsewhere", 1);
  EXPECT_EQ(gm_home_dir(), "/elsewhere");
  unsetenv("HOME");
  EXPECT_FALSE(gm_home_dir().empty());
}

}  // namespace
