// The four entry points the system calls on an in-process server.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include "ClassTable.h"
#include "ComPtr.h"
#include "Module.h"
#include "Registrar.h"
#include "Text.h"

using namespace rv;

namespace {

WideString modulePath() {
  OLECHAR path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(Module::instance(), path, MAX_PATH);
  return WideString(path, length);
}

// The module's type library: type library resource 1, or the .tlb file
// beside the module. `loadedFrom` tells which file it came from.
HRESULT loadTypeLibrary(const WideString &module, ComPtr<ITypeLib> &library, WideString &loadedFrom) {
  loadedFrom = module;
  HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, library.put());
  if (SUCCEEDED(hr)) return hr;
  const size_t dot = module.find_last_of('.');
  const size_t slash = module.find_last_of('\\');
  loadedFrom = (dot != WideString::npos && (slash == WideString::npos || dot > slash) ? module.substr(0, dot) : module) +
               toWide(".tlb");
  return LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, library.put());
}

ScriptVariables scriptVariables(const WideString &module) { return {{toWide("MODULE"), module}}; }

}  // namespace

STDAPI DllCanUnloadNow(void) { return Module::lockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  const ClassRow *row = findClass(rclsid);
  if (row == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return Module::classObject(*row, riid, ppv);
}

STDAPI DllRegisterServer(void) {
  const WideString module = modulePath();
  for (const ClassRow &row : classTable()) {
    const HRESULT hr =
        runRegistrationResource(Module::resourceInstance(), row.registrationScript, scriptVariables(module), true);
    if (FAILED(hr)) return hr;
  }
  ComPtr<ITypeLib> library;
  WideString loadedFrom;
  HRESULT hr = loadTypeLibrary(module, library, loadedFrom);
  if (FAILED(hr)) return hr;
  const size_t slash = module.find_last_of('\\');
  WideString helpFolder = slash == WideString::npos ? WideString() : module.substr(0, slash);
  return RegisterTypeLib(library.get(), loadedFrom.data(), helpFolder.data());
}

STDAPI DllUnregisterServer(void) {
  const WideString module = modulePath();
  for (const ClassRow &row : classTable())
    runRegistrationResource(Module::resourceInstance(), row.registrationScript, scriptVariables(module), false);

  // The system automation library may lack the unregistration function; then
  // the type library stays registered.
  using UnRegister = HRESULT(WINAPI *)(REFGUID, WORD, WORD, LCID, SYSKIND);
  HMODULE automation = GetModuleHandleA("oleaut32.dll");
  auto unregister = automation != nullptr
                        ? reinterpret_cast<UnRegister>(reinterpret_cast<void *>(GetProcAddress(automation, "UnRegisterTypeLib")))
                        : nullptr;
  ComPtr<ITypeLib> library;
  WideString loadedFrom;
  TLIBATTR *attributes = nullptr;
  if (unregister != nullptr && SUCCEEDED(loadTypeLibrary(module, library, loadedFrom)) &&
      SUCCEEDED(library->GetLibAttr(&attributes))) {
    unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
               attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  return S_OK;
}
