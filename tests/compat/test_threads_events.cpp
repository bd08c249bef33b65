// Threads, events, waits, handle checks and critical sections of the platform layer.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "gm_win32.h"

namespace {

using namespace std::chrono_literals;

constexpr LPTHREAD_START_ROUTINE kReturnSeven = [](void*) -> DWORD { return 7; };

// Sleeps until pred holds, for 5 s at most.
template <class Pred>
void await(Pred pred) {
  for (int i = 0; i < 500 && !pred(); ++i) std::this_thread::sleep_for(10ms);
}

TEST(CompatThreads, ReportSystemIdGetTheStackAskedAndStaySignalledOnceEnded) {
  struct Facts {
    pid_t tid = 0;
    size_t stack = 0;
  } facts;
  const auto record = [](void* p) -> DWORD {
    pthread_attr_t attr;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstacksize(&attr, &static_cast<Facts*>(p)->stack);
    pthread_attr_destroy(&attr);
    static_cast<Facts*>(p)->tid = gettid();
    return 0;
  };
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, size_t{16} << 20, record, &facts, 0, &id);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(id, static_cast<DWORD>(facts.tid));
  EXPECT_GE(facts.stack, size_t{16} << 20);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(t));
}

TEST(CompatThreads, WaitForAllTimesOutWhenOneThreadNeverEnds) {
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const auto wait_for_gate = [](void* e) -> DWORD { return WaitForSingleObject(e, INFINITE); };
  HANDLE threads[2] = {CreateThread(nullptr, 0, kReturnSeven, nullptr, 0, nullptr),
                       CreateThread(nullptr, 0, wait_for_gate, gate, 0, nullptr)};
  const uint64_t start = gm_now_ms();
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 3000), WAIT_TIMEOUT);
  const uint64_t waited = gm_now_ms() - start;
  EXPECT_GE(waited, 2900u);
  EXPECT_LT(waited, 10000u);

  SetEvent(gate);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE h : {threads[0], threads[1], gate}) EXPECT_TRUE(FindClose(h));
}

TEST(CompatEvents, AutoResetReleasesOneWaiterPerSetManualResetAllUntilReset) {
  for (const bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual reset" : "auto reset");
    HANDLE event = CreateEventW(nullptr, manual, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    // A successful wait clears only an auto-reset event.
    EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

    // Two threads each wait up to 10 s.
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
      waiters.emplace_back([&] { released += WaitForSingleObject(event, 10000) == 0; });
    }
    EXPECT_TRUE(SetEvent(event));
    await([&] { return released > 0; });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(released, manual ? 2 : 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    EXPECT_TRUE(manual || SetEvent(event));  // an auto-reset event: the second waiter's turn
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(released, 2);
    FindClose(event);
  }
}

TEST(CompatHandles, NullAllOnesForeignAndWrongKindAreRejected) {
  int on_stack = 0;
  static char looks_like_event[256] = "EVNT";  // a foreign block with a known tag
  HANDLE thread = CreateThread(nullptr, 0, kReturnSeven, nullptr, 0, nullptr);
  for (HANDLE bad : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, static_cast<HANDLE>(&on_stack),
                     static_cast<HANDLE>(looks_like_event)}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    WIN32_FIND_DATAW data;
    EXPECT_FALSE(SetEvent(bad) || ResetEvent(bad) || FindClose(bad) || FindNextFileW(bad, &data));
    EXPECT_EQ(MapViewOfFile(bad, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    HANDLE pair[2] = {thread, bad};
    EXPECT_EQ(WaitForMultipleObjects(2, pair, TRUE, 0), WAIT_FAILED);
  }
  EXPECT_FALSE(SetEvent(thread));
  EXPECT_EQ(WaitForMultipleObjects(1, &thread, FALSE, 0), WAIT_FAILED);  // only wait-all
  FindClose(thread);
}

// A thread may end before or after its handle is closed; a closed handle is no handle any more,
// though the running thread still holds the object behind it.
TEST(CompatHandles, ThreadsOutliveTheirClosedHandlesWhichAreRejected) {
  struct Args {
    HANDLE gate, done;
  } args{CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  const auto body = [](void* p) -> DWORD {
    WaitForSingleObject(static_cast<Args*>(p)->gate, INFINITE);
    return SetEvent(static_cast<Args*>(p)->done);
  };
  HANDLE t = CreateThread(nullptr, 0, body, &args, 0, nullptr);
  ASSERT_TRUE(FindClose(t));
  // The running thread still holds the object, so this is live memory but no longer a handle.
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_FAILED);
  EXPECT_FALSE(FindClose(t));

  SetEvent(args.gate);
  EXPECT_EQ(WaitForSingleObject(args.done, 5000), WAIT_OBJECT_0);
  FindClose(args.gate);
  FindClose(args.done);

  // Closed while ending, the race the reference counts are for (ended first: ReportSystemId...).
  for (int i = 0; i < 64; ++i) {
    EXPECT_TRUE(FindClose(CreateThread(nullptr, 0, kReturnSeven, nullptr, 0, nullptr)));
  }
  // Every one of them ends by itself; the layer joins them (at the latest when the process ends).
  await([] { return gm_threads_running() == 0; });
  EXPECT_EQ(gm_threads_running(), 0);
}

TEST(CompatCriticalSections, AreRecursive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread([&cs] {
    EnterCriticalSection(&cs);  // free again once left as often as entered
    LeaveCriticalSection(&cs);
  }).join();
  DeleteCriticalSection(&cs);
}

}  // namespace
