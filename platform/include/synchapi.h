// Waiting.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

#define INFINITE 0xFFFFFFFF

void WINAPI Sleep(DWORD dwMilliseconds);

#ifdef __cplusplus
}
#endif
