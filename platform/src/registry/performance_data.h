// HKEY_PERFORMANCE_DATA: values that the store does not keep. Reading one
// collects, there and then, the objects of the performance libraries that
// services register, or lists the counter names and help texts that lodctr
// installed.
#pragma once

#include <windows.h>

namespace platform::registry {

// RegQueryValueEx on HKEY_PERFORMANCE_DATA. `ansi` is the 8-bit form: the
// same bytes, except that name and help texts are in the system code page.
LSTATUS queryPerformanceData(LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size, bool ansi);

// RegCloseKey(HKEY_PERFORMANCE_DATA): every library opened since is closed
// and unloaded; the next query loads and opens them again.
LSTATUS closePerformanceData();

}  // namespace platform::registry
