// Kernel services of the Windows SDK offered by the platform layer:
// interlocked operations, critical sections, last error, thread and process
// identity, local memory, message formatting, the lstr* string helpers and
// WinExec; with the headers below, files, the current directory, debugger
// output, the clock, the performance counter, Sleep, starting and waiting for
// a program, and file mappings.
#pragma once

#include <stdarg.h>
#include <winnt.h>
#include <minwinbase.h>
#include <handleapi.h>
#include <fileapi.h>
#include <processenv.h>
#include <debugapi.h>
#include <sysinfoapi.h>
#include <profileapi.h>
#include <synchapi.h>
#include <processthreadsapi.h>
#include <memoryapi.h>

#ifdef __cplusplus
extern "C" {
#endif

// Interlocked operations. Every one is a full barrier, as on Windows; the
// value returned is the one Windows documents (the new value for Increment
// and Decrement, the initial value for the others).
static inline LONG InterlockedIncrement(LONG volatile *Addend) {
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedDecrement(LONG volatile *Addend) {
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedExchange(LONG volatile *Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedExchangeAdd(LONG volatile *Addend, LONG Value) {
  return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedCompareExchange(LONG volatile *Destination, LONG Exchange, LONG Comperand) {
  __atomic_compare_exchange_n(Destination, &Comperand, Exchange, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comperand;
}
static inline PVOID InterlockedExchangePointer(PVOID volatile *Target, PVOID Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
static inline PVOID InterlockedCompareExchangePointer(PVOID volatile *Destination, PVOID Exchange, PVOID Comperand) {
  __atomic_compare_exchange_n(Destination, &Comperand, Exchange, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comperand;
}

// A critical section is recursive: the owning thread may enter it again and
// must leave it as many times. It has the Windows layout and size (40 bytes
// on 64-bit), so that an object that embeds one costs what it costs there:
// the owner and the recursion count are the Windows fields, and the lock
// word that threads wait on lives in LockSemaphore, which only the platform
// touches.
typedef struct _RTL_CRITICAL_SECTION {
  PVOID DebugInfo;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
} RTL_CRITICAL_SECTION, *PRTL_CRITICAL_SECTION, CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);
DWORD WINAPI GetCurrentThreadId(void);
DWORD WINAPI GetCurrentProcessId(void);

// Local memory: what FormatMessage hands out with
// FORMAT_MESSAGE_ALLOCATE_BUFFER is released with LocalFree.
typedef HANDLE HLOCAL;
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL WINAPI LocalFree(HLOCAL hMem);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments);
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list *Arguments);

// String helpers. The comparisons are the locale-aware ones of Windows (word
// sort, lower case before upper case); lstrcmpA and lstrcmpiA compare the
// texts as read in the system code page.
int WINAPI lstrlenA(LPCSTR lpString);
int WINAPI lstrlenW(LPCWSTR lpString);
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength);
LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);

// Starts a program and does not wait for it. The command line (system code
// page) is split by the rules of CommandLineToArgvW; the program is looked
// for in the platform's tools folder ($WINPLATFORM_TOOLS, else the folder of
// the platform library), then in the main program's folder, then on PATH, a
// ".exe" suffix being optional. No shell is involved, and the call does not
// wait for the program. Returns a value above 31 on success, else 0 (out of
// resources), ERROR_FILE_NOT_FOUND (also for a missing folder, as Windows
// does), ERROR_ACCESS_DENIED or ERROR_BAD_FORMAT.
UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow);

// The 8-bit forms of the section functions of memoryapi.h; the name is in the
// system code page.
HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName);
HANDLE WINAPI OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);

#ifdef __cplusplus
}
#endif
