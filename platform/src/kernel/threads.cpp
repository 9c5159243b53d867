// Critical sections, the per-thread last error, thread and process identity,
// and local memory.
#include <windows.h>

#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::NativeLock),
              "the native lock must fit in the critical section");

pthread_mutex_t *NativeLock(LPCRITICAL_SECTION section) {
  return reinterpret_cast<pthread_mutex_t *>(section->NativeLock.Bytes);
}

thread_local DWORD last_error = ERROR_SUCCESS;

void TakeOwnership(LPCRITICAL_SECTION section) {
  if (++section->RecursionCount == 1)
    section->OwningThread = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
  InterlockedIncrement(&section->LockCount);
}

}  // namespace

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  InitializeCriticalSectionAndSpinCount(lpCriticalSection, 0);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount) {
  memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
  lpCriticalSection->LockCount = -1;
  lpCriticalSection->SpinCount = dwSpinCount;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  int result = pthread_mutex_init(NativeLock(lpCriticalSection), &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (result != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_lock(NativeLock(lpCriticalSection));
  TakeOwnership(lpCriticalSection);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (pthread_mutex_trylock(NativeLock(lpCriticalSection)) != 0) return FALSE;
  TakeOwnership(lpCriticalSection);
  return TRUE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (--lpCriticalSection->RecursionCount == 0) lpCriticalSection->OwningThread = nullptr;
  InterlockedDecrement(&lpCriticalSection->LockCount);
  pthread_mutex_unlock(NativeLock(lpCriticalSection));
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_destroy(NativeLock(lpCriticalSection));
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
