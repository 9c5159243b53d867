#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// Increment and decrement answer the new value, the others the old one;
// under contention every operation counts.
TEST(Interlocked, ReturnValuesFollowWindowsAndCountExactlyUnderContention) {
  LONG volatile value = MAXLONG;
  EXPECT_EQ(InterlockedIncrement(&value), MINLONG) << "wraps as a 32-bit value";
  EXPECT_EQ(InterlockedDecrement(&value), MAXLONG);
  EXPECT_EQ(InterlockedExchange(&value, 42), MAXLONG);
  EXPECT_EQ(InterlockedExchangeAdd(&value, -2), 42);
  EXPECT_EQ(InterlockedCompareExchange(&value, 7, 39), 40) << "no exchange when the comparand differs";
  EXPECT_EQ(InterlockedCompareExchange(&value, 7, 40), 40);
  EXPECT_EQ(value, 7);
  int first = 1, second = 2;
  PVOID volatile pointer = &first;
  EXPECT_EQ(InterlockedExchangePointer(&pointer, &second), &first);
  EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, &first, &first), &second);
  EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, nullptr, &second), &second);
  EXPECT_EQ(pointer, nullptr);

  LONG volatile counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; ++i) {
        InterlockedIncrement(&counter);
        InterlockedExchangeAdd(&counter, 2);
        InterlockedDecrement(&counter);
      }
    });
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(counter, 4 * 50000 * 2);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 4000));
  auto other_thread_can_enter = [&] {
    BOOL entered = FALSE;
    std::thread([&] {
      entered = TryEnterCriticalSection(&section);
      if (entered) LeaveCriticalSection(&section);
    }).join();
    return entered != FALSE;
  };

  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section)) << "the owner may always enter again";
  EXPECT_FALSE(other_thread_can_enter());
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  EXPECT_FALSE(other_thread_can_enter()) << "still held once";
  LeaveCriticalSection(&section);
  EXPECT_TRUE(other_thread_can_enter());

  // Threads that find it held wait and are woken one by one: every
  // unguarded increment made inside it counts.
  long guarded = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        EnterCriticalSection(&section);
        EnterCriticalSection(&section);
        long seen = guarded;
        if (i % 64 == 0) std::this_thread::yield();
        guarded = seen + 1;
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
      }
    });
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(guarded, 4 * 20000);
  EXPECT_EQ(section.RecursionCount, 0);
  EXPECT_EQ(section.OwningThread, nullptr);
  DeleteCriticalSection(&section);
}

TEST(Threads, LastErrorAndThreadIdBelongToTheThread) {
  // The two threads meet through plain atomics, so that no system call
  // between setting and reading an error can change it.
  std::atomic<int> stage{0};
  DWORD error_at_start = 1, error_of_other = 0, other_thread = 0;
  std::thread other([&] {
    error_at_start = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
    for (stage = 1; stage != 2;) {
    }
    error_of_other = GetLastError();
    other_thread = GetCurrentThreadId();
  });
  SetLastError(ERROR_ACCESS_DENIED);
  while (stage != 1) {
  }
  const DWORD error_of_main = GetLastError();
  stage = 2;
  other.join();
  EXPECT_EQ(error_at_start, static_cast<DWORD>(ERROR_SUCCESS)) << "a new thread starts without an error";
  EXPECT_EQ(error_of_main, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(error_of_other, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(other_thread, GetCurrentThreadId());
}
