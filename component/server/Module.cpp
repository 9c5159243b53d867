#include "Module.h"

#include <atomic>
#include <cstring>
#include <map>
#include <tuple>

#include "ClassFactory.h"
#include "ClassTable.h"
#include "ComPtr.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

struct TypeInfoPair {
  rv::ComPtr<ITypeInfo> dispatch;
  rv::ComPtr<ITypeInfo> vtable;
};

struct GuidLess {
  bool operator()(const GUID &a, const GUID &b) const {
    return std::tie(a.Data1, a.Data2, a.Data3) < std::tie(b.Data1, b.Data2, b.Data3) ||
           (std::tie(a.Data1, a.Data2, a.Data3) == std::tie(b.Data1, b.Data2, b.Data3) &&
            std::memcmp(a.Data4, b.Data4, sizeof a.Data4) < 0);
  }
};

// Lives from the module's load to its unload: the static object's
// construction and destruction are the module's start-up and shut-down.
struct ModuleState {
  LONG volatile lockCount = 0;
  HMODULE instance = nullptr;
  rv::CriticalSection lock;
  std::atomic<rv::ClassFactory *> classObjects[rv::ClassCount] = {};
  std::map<IID, TypeInfoPair, GuidLess> typeInfos;

  ModuleState() {
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Module::lockCount), &instance);
    DisableThreadLibraryCalls(instance);
  }

  ~ModuleState() {
    for (auto &slot : classObjects)
      if (rv::ClassFactory *factory = slot.exchange(nullptr)) factory->Release();
  }
};

ModuleState &state() {
  static ModuleState module;
  return module;
}

// The locale the type library is written in.
constexpr LCID LibraryLocale = 0x409;

size_t rowIndex(const rv::ClassRow &row) { return static_cast<size_t>(&row - rv::classTable().data()); }

}  // namespace

namespace Module {

LONG lock() { return InterlockedIncrement(&state().lockCount); }

LONG unlock() { return InterlockedDecrement(&state().lockCount); }

LONG lockCount() { return InterlockedCompareExchange(&state().lockCount, 0, 0); }

HMODULE instance() { return state().instance; }

HMODULE resourceInstance() { return state().instance; }

HRESULT classObject(const rv::ClassRow &row, REFIID riid, void **object) {
  ModuleState &module = state();
  std::atomic<rv::ClassFactory *> &slot = module.classObjects[rowIndex(row)];
  rv::ClassFactory *factory = slot.load();
  if (factory == nullptr) {
    rv::Lock guard(module.lock);
    factory = slot.load();
    if (factory == nullptr) {
      factory = new (std::nothrow) rv::ClassFactory(row);
      if (factory == nullptr) return E_OUTOFMEMORY;
      slot.store(factory);
    }
  }
  return factory->QueryInterface(riid, object);
}

HRESULT typeInfo(REFIID iid, LCID lcid, ITypeInfo **dispatchInfo, ITypeInfo **vtableInfo) {
  ModuleState &module = state();
  rv::Lock guard(module.lock);
  auto found = module.typeInfos.find(iid);
  if (found == module.typeInfos.end()) {
    rv::ComPtr<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, lcid, library.put());
    // Script hosts often ask with a neutral locale (0, or the user's or the
    // system's default); the library is registered under its own, English.
    if (FAILED(hr) && PRIMARYLANGID(LANGIDFROMLCID(lcid)) == LANG_NEUTRAL)
      hr = LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, LibraryLocale, library.put());
    if (FAILED(hr)) return hr;
    TypeInfoPair pair;
    hr = library->GetTypeInfoOfGuid(iid, pair.dispatch.put());
    if (FAILED(hr)) return hr;
    // A dual interface's dispatch description refers to its function-table
    // description, which is what calls through the table are made with.
    HREFTYPE ref = 0;
    if (FAILED(pair.dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) ||
        FAILED(pair.dispatch->GetRefTypeInfo(ref, pair.vtable.put())))
      pair.vtable = pair.dispatch;
    found = module.typeInfos.emplace(iid, std::move(pair)).first;
  }
  if (dispatchInfo) *dispatchInfo = rv::ComPtr<ITypeInfo>(found->second.dispatch).detach();
  if (vtableInfo) *vtableInfo = rv::ComPtr<ITypeInfo>(found->second.vtable).detach();
  return S_OK;
}

}  // namespace Module
