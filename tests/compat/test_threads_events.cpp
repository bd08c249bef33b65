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

DWORD return_seven(void*) {
  return 7;
}

DWORD wait_for_event(void* event) {
  return WaitForSingleObject(event, INFINITE);
}

uint64_t ms_since(uint64_t start) {
  return gm_now_ms() - start;
}

struct ThreadFacts {
  pid_t tid = 0;
  size_t stack = 0;
};

DWORD record_facts(void* p) {
  auto* facts = static_cast<ThreadFacts*>(p);
  facts->tid = gettid();
  pthread_attr_t attr;
  pthread_getattr_np(pthread_self(), &attr);
  pthread_attr_getstacksize(&attr, &facts->stack);
  pthread_attr_destroy(&attr);
  return 0;
}

// Threads that each wait up to 10 s on one event, counting those released.
struct Waiters {
  Waiters(HANDLE event, int n) {
    for (int i = 0; i < n; ++i) {
      threads.emplace_back([this, event] { released += WaitForSingleObject(event, 10000) == 0; });
    }
  }
  ~Waiters() { join(); }
  void join() {
    for (std::thread& t : threads) {
      if (t.joinable()) t.join();
    }
  }
  std::atomic<int> released{0};
  std::vector<std::thread> threads;
};

TEST(CompatThreads, ReportSystemIdGetTheStackAskedAndStaySignalledOnceEnded) {
  ThreadFacts facts;
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, size_t{16} << 20, record_facts, &facts, 0, &id);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(id, static_cast<DWORD>(facts.tid));
  EXPECT_GE(facts.stack, size_t{16} << 20);
  const uint64_t start = gm_now_ms();
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  EXPECT_LT(ms_since(start), 1000u);
  EXPECT_TRUE(CloseHandle(t));
}

TEST(CompatThreads, WaitForAllTimesOutWhenOneThreadNeverEnds) {
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE threads[2] = {CreateThread(nullptr, 0, return_seven, nullptr, 0, nullptr),
                       CreateThread(nullptr, 0, wait_for_event, gate, 0, nullptr)};
  const uint64_t start = gm_now_ms();
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 3000), WAIT_TIMEOUT);
  const uint64_t waited = ms_since(start);
  EXPECT_GE(waited, 2900u);
  EXPECT_LT(waited, 10000u);

  SetEvent(gate);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE h : threads) EXPECT_TRUE(FindClose(h));
  FindClose(gate);
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

    Waiters waiters(event, 2);
    ASSERT_TRUE(SetEvent(event));
    for (int i = 0; i < 500 && waiters.released == 0; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(waiters.released, manual ? 2 : 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    if (!manual) {
      ASSERT_TRUE(SetEvent(event));  // the second waiter's turn
    }
    waiters.join();
    EXPECT_EQ(waiters.released, 2);
    FindClose(event);
  }
}

TEST(CompatHandles, NullAllOnesForeignAndWrongKindAreRejected) {
  int on_stack = 0;
  static char looks_like_event[256] = "EVNT";  // a foreign block with a known tag
  HANDLE thread = CreateThread(nullptr, 0, return_seven, nullptr, 0, nullptr);
  for (HANDLE bad : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, static_cast<HANDLE>(&on_stack),
                     static_cast<HANDLE>(looks_like_event)}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(bad));
    EXPECT_FALSE(ResetEvent(bad));
    EXPECT_FALSE(FindClose(bad));
    EXPECT_EQ(MapViewOfFile(bad, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    WIN32_FIND_DATAW data;
    EXPECT_FALSE(FindNextFileW(bad, &data));
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
  auto body = [](void* p) -> DWORD {
    auto* a = static_cast<Args*>(p);
    WaitForSingleObject(a->gate, INFINITE);
    return SetEvent(a->done);
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
    EXPECT_TRUE(FindClose(CreateThread(nullptr, 0, return_seven, nullptr, 0, nullptr)));
  }
  // Every one of them ends by itself; the layer joins them (at the latest when the process ends).
  for (int i = 0; i < 500 && gm_threads_running() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
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
