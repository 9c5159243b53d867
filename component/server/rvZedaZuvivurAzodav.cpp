// The four entry points the system calls on an in-process server.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include "Module.h"

STDAPI DllCanUnloadNow(void) { return Module::lockCount() == 0 ? S_OK : S_FALSE; }

// No class of the table can hand out a class object yet: the class table and
// its class factories are still to come.
STDAPI DllGetClassObject(REFCLSID, REFIID, LPVOID *ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

// Registration runs the registration scripts through the registrar, which is
// still to come; until then the module says so instead of claiming success.
STDAPI DllRegisterServer(void) { return E_NOTIMPL; }

STDAPI DllUnregisterServer(void) { return E_NOTIMPL; }
