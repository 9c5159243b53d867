// Shell helpers: splitting a command line the way Windows programs do.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

// The array and its texts are one block, released with LocalFree. An empty
// command line yields the path of the main program as the only argument.
LPWSTR *WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int *pNumArgs);

#ifdef __cplusplus
}
#endif
