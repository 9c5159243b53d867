// Critical sections, the per-thread last error, thread and process identity,
// and local memory.
#include <windows.h>

#include <linux/futex.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

// A thread sanitizer cannot see a lock built on futex(2); the build that
// runs under one tells it where the lock is taken and given back.
#if defined(__SANITIZE_THREAD__)
#define PLATFORM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PLATFORM_TSAN 1
#endif
#endif

#if defined(PLATFORM_TSAN)
#include <sanitizer/tsan_interface.h>
#define TSAN_TRY_LOCK __tsan_mutex_try_lock
#define TSAN_TRY_LOCK_FAILED (__tsan_mutex_try_lock | __tsan_mutex_try_lock_failed)
#define ANNOTATE_MUTEX_CREATE(m) __tsan_mutex_create(m, __tsan_mutex_write_reentrant)
#define ANNOTATE_MUTEX_DESTROY(m) __tsan_mutex_destroy(m, 0)
#define ANNOTATE_MUTEX_PRE_LOCK(m, flags) __tsan_mutex_pre_lock(m, flags)
#define ANNOTATE_MUTEX_POST_LOCK(m, flags) __tsan_mutex_post_lock(m, flags, 0)
#define ANNOTATE_MUTEX_PRE_UNLOCK(m) __tsan_mutex_pre_unlock(m, 0)
#define ANNOTATE_MUTEX_POST_UNLOCK(m) __tsan_mutex_post_unlock(m, 0)
#else
#define TSAN_TRY_LOCK 0
#define TSAN_TRY_LOCK_FAILED 0
#define ANNOTATE_MUTEX_CREATE(m)
#define ANNOTATE_MUTEX_DESTROY(m)
#define ANNOTATE_MUTEX_PRE_LOCK(m, flags)
#define ANNOTATE_MUTEX_POST_LOCK(m, flags)
#define ANNOTATE_MUTEX_PRE_UNLOCK(m)
#define ANNOTATE_MUTEX_POST_UNLOCK(m)
#endif

namespace {

// The lock word of a critical section: 0 free, 1 held, 2 held with threads
// (possibly) waiting. Waiting threads sleep on the word through futex(2); a
// release that finds waiters wakes one of them.
constexpr int Free = 0, Held = 1, Contended = 2;

std::atomic<int> &lockWord(LPCRITICAL_SECTION section) {
  static_assert(sizeof(std::atomic<int>) <= sizeof section->LockSemaphore, "the lock word lives in LockSemaphore");
  return *reinterpret_cast<std::atomic<int> *>(&section->LockSemaphore);
}

HANDLE currentThread() { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId())); }

bool ownedByCaller(LPCRITICAL_SECTION section) {
  return __atomic_load_n(&section->OwningThread, __ATOMIC_RELAXED) == currentThread();
}

void futexWait(std::atomic<int> &word, int expected) {
  syscall(SYS_futex, reinterpret_cast<int *>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void futexWake(std::atomic<int> &word) {
  syscall(SYS_futex, reinterpret_cast<int *>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

bool tryAcquire(std::atomic<int> &word) {
  int expected = Free;
  return word.compare_exchange_strong(expected, Held, std::memory_order_acquire, std::memory_order_relaxed);
}

void acquire(std::atomic<int> &word) {
  if (tryAcquire(word)) return;
  // Whoever takes the lock from here on marks it contended, so that its
  // release wakes the next waiter.
  while (word.exchange(Contended, std::memory_order_acquire) != Free) futexWait(word, Contended);
}

void release(std::atomic<int> &word) {
  if (word.exchange(Free, std::memory_order_release) == Contended) futexWake(word);
}

void takeOwnership(LPCRITICAL_SECTION section) {
  __atomic_store_n(&section->OwningThread, currentThread(), __ATOMIC_RELAXED);
  section->RecursionCount = 1;
  InterlockedIncrement(&section->LockCount);
}

thread_local DWORD last_error = ERROR_SUCCESS;

}  // namespace

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  InitializeCriticalSectionAndSpinCount(lpCriticalSection, 0);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount) {
  memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
  lpCriticalSection->LockCount = -1;
  lpCriticalSection->SpinCount = dwSpinCount;
  new (&lockWord(lpCriticalSection)) std::atomic<int>(Free);
  ANNOTATE_MUTEX_CREATE(lpCriticalSection);
  return TRUE;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  ANNOTATE_MUTEX_PRE_LOCK(lpCriticalSection, 0);
  if (ownedByCaller(lpCriticalSection)) {
    ++lpCriticalSection->RecursionCount;
    InterlockedIncrement(&lpCriticalSection->LockCount);
  } else {
    acquire(lockWord(lpCriticalSection));
    takeOwnership(lpCriticalSection);
  }
  ANNOTATE_MUTEX_POST_LOCK(lpCriticalSection, 0);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  ANNOTATE_MUTEX_PRE_LOCK(lpCriticalSection, TSAN_TRY_LOCK);
  BOOL entered = TRUE;
  if (ownedByCaller(lpCriticalSection)) {
    ++lpCriticalSection->RecursionCount;
    InterlockedIncrement(&lpCriticalSection->LockCount);
  } else if (tryAcquire(lockWord(lpCriticalSection))) {
    takeOwnership(lpCriticalSection);
  } else {
    entered = FALSE;
  }
  ANNOTATE_MUTEX_POST_LOCK(lpCriticalSection, entered ? TSAN_TRY_LOCK : TSAN_TRY_LOCK_FAILED);
  return entered;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  ANNOTATE_MUTEX_PRE_UNLOCK(lpCriticalSection);
  InterlockedDecrement(&lpCriticalSection->LockCount);
  if (--lpCriticalSection->RecursionCount == 0) {
    __atomic_store_n(&lpCriticalSection->OwningThread, nullptr, __ATOMIC_RELAXED);
    release(lockWord(lpCriticalSection));
  }
  ANNOTATE_MUTEX_POST_UNLOCK(lpCriticalSection);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  ANNOTATE_MUTEX_DESTROY(lpCriticalSection);
  memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
}

DWORD WINAPI GetLastError(void) { return last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }

DWORD WINAPI GetCurrentThreadId(void) {
  thread_local const DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

// Local memory is the C heap; a fixed block's handle is its address.
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void *block = (uFlags & LMEM_ZEROINIT) ? calloc(1, uBytes ? uBytes : 1) : malloc(uBytes ? uBytes : 1);
  if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  free(hMem);
  return nullptr;
}

}  // extern "C"
