// The high-resolution counter: ticks of a monotonic clock, ten million a
// second, so one tick is 100 nanoseconds.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *lpPerformanceCount);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *lpFrequency);

#ifdef __cplusplus
}
#endif
