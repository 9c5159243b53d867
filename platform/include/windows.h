// The umbrella header of the Windows SDK, as far as the platform layer offers it.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <libloaderapi.h>
#include <winnls.h>
#include <winuser.h>
