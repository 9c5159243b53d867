#include "PublisherModule.h"

#include "ComPtr.h"
#include "rvTreePublisher.h"

namespace rv::automation {

namespace {

struct ModuleState {
  LONG volatile locks = 0;
  HMODULE instance = nullptr;
  CriticalSection lock;
  ComPtr<ITypeInfo> dispatchInfo;
  ComPtr<ITypeInfo> vtableInfo;

  ModuleState() {
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleLocks), &instance);
  }
};

ModuleState &state() {
  static ModuleState module;
  return module;
}

}  // namespace

void lockModule() { InterlockedIncrement(&state().locks); }

void unlockModule() { InterlockedDecrement(&state().locks); }

LONG moduleLocks() { return InterlockedCompareExchange(&state().locks, 0, 0); }

Text modulePath() {
  OLECHAR path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(state().instance, path, MAX_PATH);
  return Text(path, length);
}

HRESULT loadTypeLibrary(ITypeLib **library) {
  return LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, library);
}

HRESULT publisherTypeInfo(ITypeInfo **dispatchInfo, ITypeInfo **vtableInfo) {
  ModuleState &module = state();
  Lock guard(module.lock);
  if (!module.dispatchInfo) {
    ComPtr<ITypeLib> library;
    HRESULT hr = loadTypeLibrary(library.put());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> dispatch, vtable;
    hr = library->GetTypeInfoOfGuid(IID_ITreePublisher, dispatch.put());
    if (FAILED(hr)) return hr;
    // The dispatch description of a dual interface refers to its
    // function-table description, which DispInvoke calls through.
    HREFTYPE ref = 0;
    if (FAILED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) ||
        FAILED(dispatch->GetRefTypeInfo(ref, vtable.put())))
      vtable = dispatch;
    module.dispatchInfo = dispatch;
    module.vtableInfo = vtable;
  }
  if (dispatchInfo) *dispatchInfo = ComPtr<ITypeInfo>(module.dispatchInfo).detach();
  if (vtableInfo) *vtableInfo = ComPtr<ITypeInfo>(module.vtableInfo).detach();
  return S_OK;
}

}  // namespace rv::automation
