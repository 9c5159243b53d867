// Waiting: for a while, or for a process to end.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

#define INFINITE 0xFFFFFFFF

void WINAPI Sleep(DWORD dwMilliseconds);

#define WAIT_OBJECT_0 ((DWORD)0x00000000)
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)

// Waits until the process of hHandle (from CreateProcess) ends: WAIT_OBJECT_0
// once it has ended, WAIT_TIMEOUT when dwMilliseconds pass first (INFINITE:
// never). Process handles are the platform's only waitable objects: any other
// handle, the thread handle of CreateProcess included, fails with WAIT_FAILED
// and ERROR_INVALID_HANDLE.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

#ifdef __cplusplus
}
#endif
