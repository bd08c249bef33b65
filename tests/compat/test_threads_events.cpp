// Threads, events, waits, handle checks and critical sections of the platform layer.
#include <gtest/gtest.h>

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

// An ended thread stays signalled; wait-all times out while one thread still runs.
TEST(CompatThreads, WaitForAllTimesOutWhileOneThreadRunsAndEndedThreadsStaySignalled) {
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const auto wait_for_gate = [](void* e) -> DWORD { return WaitForSingleObject(e, INFINITE); };
  HANDLE threads[2] = {CreateThread(nullptr, 0, kReturnSeven, nullptr, 0, nullptr),
                       CreateThread(nullptr, 0, wait_for_gate, gate, 0, nullptr)};
  ASSERT_EQ(WaitForSingleObject(threads[0], INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(threads[0], 0), WAIT_OBJECT_0);
  const uint64_t start = gm_now_ms();
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 500), WAIT_TIMEOUT);
  EXPECT_GE(gm_now_ms() - start, 450u);

  SetEvent(gate);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(FindClose(threads[0]) && FindClose(threads[1]) && CloseHandle(gate));
}

TEST(CompatEvents, ManualResetReleasesEveryWaiterUntilResetAutoResetOne) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] { released += WaitForSingleObject(event, 10000) == 0; });
  }
  EXPECT_TRUE(SetEvent(event));
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(released, 2);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  FindClose(event);

  HANDLE once = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(once, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(once, 0), WAIT_TIMEOUT);
  FindClose(once);
}

TEST(CompatHandles, InvalidAndForeignHandlesAreRejected) {
  static char looks_like_event[256] = "EVNT";  // a foreign block with a known tag
  for (HANDLE bad : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(looks_like_event)}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(bad) || ResetEvent(bad) || FindClose(bad));
    EXPECT_EQ(MapViewOfFile(bad, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
  }
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

  // Closed while ending, the race the reference counts are for.
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
  DeleteCriticalSection(&cs);
}

}  // namespace
