// The four entry points of a module whose classes register as values: the
// module names its table of classes (rows with `clsid` and `classObject`,
// ClassObject.h) and its ServerRegistration (Registration.h), and the kit
// gives the system the rest. Written once, at namespace scope, in the
// module's one entry-point file.
#pragma once
#include "ClassObject.h"
#include "Module.h"
#include "Registration.h"

#define INPROC_ENTRY_POINTS(classes, registration)                                    \
  STDAPI DllCanUnloadNow(void) { return Module::canUnloadNow(); }                     \
  STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {               \
    return rv::inproc::getClassObject(classes, rclsid, riid, ppv);                    \
  }                                                                                   \
  STDAPI DllRegisterServer(void) { return rv::inproc::registerServer(registration); } \
  STDAPI DllUnregisterServer(void) { return rv::inproc::unregisterServer(registration); }
