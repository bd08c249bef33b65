// Sockets, select, adapters, formatting, UTF-8 and dynamic loading.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "gm_win32.h"

namespace {

int format(char* buf, size_t size, size_t count, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = _vsnprintf_s(buf, size, count, fmt, args);
  va_end(args);
  return n;
}

TEST(CompatSelect, ZeroCountUsesTheHighestDescriptorInTheSets) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ASSERT_EQ(write(pair[1], "x", 1), 1);
  fd_set r;
  FD_ZERO(&r);
  FD_SET(pair[0], &r);
  timeval tv{1, 0};
  EXPECT_EQ(gm_select(0, &r, nullptr, nullptr, &tv), 1);
  close(pair[0]);
  close(pair[1]);
}

TEST(CompatSockets, TimeoutsInMillisecondsBecomeTimevals) {
  SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_TRUE(fcntl(s, F_GETFD) & FD_CLOEXEC);
  for (int name : {SO_RCVTIMEO, SO_SNDTIMEO}) {
    const DWORD ms = 2500;
    ASSERT_EQ(gm_setsockopt(s, SOL_SOCKET, name, &ms, sizeof ms), 0);
    timeval tv{};
    socklen_t len = sizeof tv;
    ASSERT_EQ(gm_getsockopt(s, SOL_SOCKET, name, &tv, &len), 0);
    EXPECT_EQ(tv.tv_sec, 2);
    EXPECT_EQ(tv.tv_usec, 500000);
  }
  EXPECT_EQ(gm_closesocket(s), 0);
}

TEST(CompatSockets, SendToAClosedPeerFailsWithoutKillingTheProcess) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  close(pair[1]);
  EXPECT_EQ(gm_send(pair[0], "x", 1, 0), -1);
  EXPECT_EQ(errno, EPIPE);
  close(pair[0]);
}

TEST(CompatAdapters, ReportTheSizeNeededThenListIpv4AdaptersButLoopback) {
  ULONG size = 0;
  const ULONG rc = GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size);
  if (rc == ERROR_NO_DATA) GTEST_SKIP() << "no interface other than loopback is up";
  ASSERT_EQ(rc, ERROR_BUFFER_OVERFLOW);
  ASSERT_GT(size, 0u);
  ASSERT_EQ(size % sizeof(IP_ADAPTER_ADDRESSES), 0u);
  std::vector<IP_ADAPTER_ADDRESSES> records(size / sizeof(IP_ADAPTER_ADDRESSES));
  ASSERT_EQ(GetAdaptersAddresses(AF_INET, 0, nullptr, records.data(), &size), NO_ERROR);
  size_t count = 0;
  for (const IP_ADAPTER_ADDRESSES* a = records.data(); a; a = a->Next, ++count) {
    // IPv4, never loopback, a prefix length and a name.
    EXPECT_TRUE(a->Address.sin_family == AF_INET &&
                ntohl(a->Address.sin_addr.s_addr) >> 24 != 127 && a->PrefixLength <= 32 &&
                a->AdapterName[0] != '\0')
        << a->AdapterName;
  }
  EXPECT_EQ(count, records.size());
}

TEST(CompatText, FormattingCutsToTheBufferReportsAndTerminates) {
  char buf[8];
  EXPECT_EQ(format(buf, sizeof buf, _TRUNCATE, "%d-%s", 42, "ok"), 5);
  EXPECT_STREQ(buf, "42-ok");
  EXPECT_EQ(format(buf, sizeof buf, _TRUNCATE, "%s", "0123456789"), -1);
  EXPECT_STREQ(buf, "0123456");
}

TEST(CompatText, WideStringArgumentIsWrittenAsUtf8InTheCLocale) {
  ASSERT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
  char buf[64];
  const char* expected = "[Grüße ♫]";
  EXPECT_EQ(format(buf, sizeof buf, _TRUNCATE, "[%S]", L"Grüße ♫"),
            static_cast<int>(std::strlen(expected)));
  EXPECT_STREQ(buf, expected);
  EXPECT_EQ(uselocale(static_cast<locale_t>(0)), LC_GLOBAL_LOCALE);  // the thread's is restored
}

TEST(CompatText, Utf8RoundTripsAndMalformedInputBecomesReplacementCharacters) {
  const std::wstring w = L"a\u00e9\u20ac\U0001F3B8";  // one-, two-, three- and four-byte forms
  const std::string u = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb8";
  EXPECT_EQ(gm_to_utf8(w.c_str()), u);
  EXPECT_EQ(gm_to_wide(u.c_str()), w);
  EXPECT_EQ(gm_path_utf8(L"C:\\a\\b/c"), "C:/a/b/c");
  char out[16];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, out, 16, nullptr, nullptr), 11);
  wchar_t back[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, u.data(), static_cast<int>(u.size()), back, 8), 4);

  EXPECT_EQ(gm_to_wide("a\xe2\x82"), L"a\uFFFD");     // cut at the end
  const wchar_t bad[] = {0xD800, 0x110000, L'x', 0};  // not encodable
  EXPECT_EQ(gm_to_utf8(bad), "\xef\xbf\xbd\xef\xbf\xbdx");
}

TEST(CompatLoading, SymbolsResolveAndFailuresKeepTheirText) {
  HMODULE lib = LoadLibraryExW(L"libc.so.6", nullptr, 0);
  ASSERT_NE(lib, nullptr);
  FARPROC fn = GetProcAddress(lib, "strlen");
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(reinterpret_cast<size_t (*)(const char*)>(fn)("four"), 4u);
  EXPECT_TRUE(FreeLibrary(lib));
  EXPECT_EQ(LoadLibraryExW(L"/nonexistent/libgm_missing.so", nullptr, 0), nullptr);
  EXPECT_NE(std::string(gm_last_load_error()).find("libgm_missing"), std::string::npos);
}

}  // namespace
