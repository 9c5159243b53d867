// The clock: calendar time in UTC and local time, and the milliseconds since
// the system started.
#pragma once

#include <minwinbase.h>

#ifdef __cplusplus
extern "C" {
#endif

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
DWORD WINAPI GetTickCount(void);
ULONGLONG WINAPI GetTickCount64(void);

#ifdef __cplusplus
}
#endif
