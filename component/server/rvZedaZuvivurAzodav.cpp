// The four entry points the system calls on an in-process server.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include "Boundary.h"
#include "ClassTable.h"
#include "Module.h"
#include "Registration.h"
#include "Registrar.h"
#include "Text.h"

using namespace rv;

namespace {

// Runs every class's registration script, registering or unregistering;
// registering stops at the first failure.
HRESULT runScripts(bool registering) {
  const ScriptVariables variables = {{toWide("MODULE"), Module::path()}};
  for (const ClassRow &row : classTable()) {
    const HRESULT hr = runRegistrationResource(Module::instance(), row.registrationScript, variables, registering);
    if (FAILED(hr) && registering) return hr;
  }
  return S_OK;
}

}  // namespace

STDAPI DllCanUnloadNow(void) { return Module::canUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  return inproc::getClassObject(classTable(), rclsid, riid, ppv);
}

STDAPI DllRegisterServer(void) {
  return inproc::boundary([] {
    const HRESULT hr = runScripts(true);
    return FAILED(hr) ? hr : inproc::registerTypeLibrary();
  });
}

STDAPI DllUnregisterServer(void) {
  return inproc::boundary([] {
    runScripts(false);
    inproc::unregisterTypeLibrary();
    return S_OK;
  });
}
