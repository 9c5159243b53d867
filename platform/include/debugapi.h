// Debugger output. As on Windows without a debugger, the text goes nowhere by
// default; platform/debug_output.h lets a listener receive it, and the
// environment variable WINPLATFORM_DEBUG_OUTPUT ("stderr" or a file path)
// copies every text there in UTF-8.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

void WINAPI OutputDebugStringA(LPCSTR lpOutputString);
void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);

#define OutputDebugString OutputDebugStringW

#ifdef __cplusplus
}
#endif
