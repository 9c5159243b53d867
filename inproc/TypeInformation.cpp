#include "TypeInformation.h"

#include <cstring>
#include <map>
#include <tuple>

#include "Module.h"

namespace rv::inproc {

namespace {

// The locale the libraries are written in.
constexpr LCID LibraryLocale = 0x409;

struct Descriptions {
  ITypeInfo *dispatch = nullptr;
  ITypeInfo *vtable = nullptr;
};

struct GuidLess {
  bool operator()(const GUID &a, const GUID &b) const {
    return std::tie(a.Data1, a.Data2, a.Data3) < std::tie(b.Data1, b.Data2, b.Data3) ||
           (std::tie(a.Data1, a.Data2, a.Data3) == std::tie(b.Data1, b.Data2, b.Data3) &&
            std::memcmp(a.Data4, b.Data4, sizeof a.Data4) < 0);
  }
};

// The descriptions loaded so far; they go with the module.
struct Cache {
  CRITICAL_SECTION lock;
  std::map<IID, Descriptions, GuidLess> loaded;

  Cache() { InitializeCriticalSection(&lock); }
  ~Cache() {
    for (auto &entry : loaded) {
      entry.second.vtable->Release();
      entry.second.dispatch->Release();
    }
    DeleteCriticalSection(&lock);
  }
};

Cache &cache() {
  static Cache kept;
  return kept;
}

struct Held {
  CRITICAL_SECTION &lock;
  explicit Held(CRITICAL_SECTION &taken) : lock(taken) { EnterCriticalSection(&lock); }
  ~Held() { LeaveCriticalSection(&lock); }
};

ITypeInfo *share(ITypeInfo *info) {
  info->AddRef();
  return info;
}

// Both descriptions of `iid` from a library.
HRESULT describe(ITypeLib *library, REFIID iid, Descriptions &out) {
  HRESULT hr = library->GetTypeInfoOfGuid(iid, &out.dispatch);
  if (FAILED(hr)) return hr;
  // A dual interface's dispatch description refers to its function-table
  // description, which is what calls through the table are made with.
  HREFTYPE ref = 0;
  if (FAILED(out.dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) ||
      FAILED(out.dispatch->GetRefTypeInfo(ref, &out.vtable)))
    out.vtable = share(out.dispatch);
  return S_OK;
}

}  // namespace

HRESULT loadRegisteredLibrary(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib **library) {
  HRESULT hr = LoadRegTypeLib(libid, major, minor, lcid, library);
  if (FAILED(hr) && PRIMARYLANGID(LANGIDFROMLCID(lcid)) == LANG_NEUTRAL)
    hr = LoadRegTypeLib(libid, major, minor, LibraryLocale, library);
  return hr;
}

HRESULT loadModuleLibrary(ITypeLib **library, Text *loadedFrom) {
  const Text module = Module::path();
  HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, library);
  Text file = module;
  if (FAILED(hr)) {
    const size_t dot = module.find_last_of('.');
    const size_t slash = module.find_last_of('\\');
    file =
        (dot != Text::npos && (slash == Text::npos || dot > slash) ? module.substr(0, dot) : module) + OLESTR(".tlb");
    hr = LoadTypeLibEx(file.c_str(), REGKIND_NONE, library);
  }
  if (SUCCEEDED(hr) && loadedFrom != nullptr) *loadedFrom = file;
  return hr;
}

HRESULT typeInfo(REFIID iid, LCID lcid, LibraryLoader load, ITypeInfo **dispatchInfo, ITypeInfo **vtableInfo) {
  Cache &kept = cache();
  Held guard(kept.lock);
  auto found = kept.loaded.find(iid);
  if (found == kept.loaded.end()) {
    ITypeLib *library = nullptr;
    HRESULT hr = load(lcid, &library);
    if (FAILED(hr)) return hr;
    Descriptions made;
    hr = describe(library, iid, made);
    library->Release();
    if (FAILED(hr)) return hr;
    try {
      found = kept.loaded.emplace(iid, made).first;
    } catch (...) {
      made.vtable->Release();
      made.dispatch->Release();
      throw;
    }
  }
  if (dispatchInfo) *dispatchInfo = share(found->second.dispatch);
  if (vtableInfo) *vtableInfo = share(found->second.vtable);
  return S_OK;
}

}  // namespace rv::inproc
