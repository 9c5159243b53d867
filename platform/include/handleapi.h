// Kernel object handles. The platform's handles are small multiples of four,
// as on Windows; a closed handle's value may be handed out again.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

BOOL WINAPI CloseHandle(HANDLE hObject);

#ifdef __cplusplus
}
#endif
