// Self-registration entry points of in-process servers and their results.
#pragma once
#include <objbase.h>

STDAPI DllRegisterServer(void);
STDAPI DllUnregisterServer(void);
