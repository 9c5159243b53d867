// The process's current directory: given out in Windows form, taken in any
// form the platform's paths accept.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName);
BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName);

#define GetCurrentDirectory GetCurrentDirectoryW
#define SetCurrentDirectory SetCurrentDirectoryW

#ifdef __cplusplus
}
#endif
