// The umbrella header of the Windows SDK, as far as the platform layer offers it.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <libloaderapi.h>
#include <winnls.h>
#include <winuser.h>
#include <winver.h>
#include <winreg.h>

// As with mingw-w64's windows.h, the OLE headers and the performance data
// layout come with windows.h unless the includer asks for the lean set.
#ifndef WIN32_LEAN_AND_MEAN
#include <shellapi.h>
#include <winperf.h>
#include <ole2.h>
#endif
