// The type information a module's objects dispatch through: the dispatch
// description of a dual interface and the function-table description that
// calls go through, loaded once per interface and kept for the module's life.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <atomic>

#include "Module.h"

namespace rv::inproc {

// Loads the library the interfaces are described in, for a locale.
using LibraryLoader = HRESULT (*)(LCID lcid, ITypeLib **library);

// The registered library `libid` of the version given. Script hosts often ask
// with a neutral locale (0, or the user's or the system's default); a library
// registered under its own locale, English, is found for them too.
HRESULT loadRegisteredLibrary(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib **library);

// The module's own library: type library resource 1 of the module, else the
// .tlb file of the module's name beside it. `loadedFrom`, when given, names
// the file it came from.
HRESULT loadModuleLibrary(ITypeLib **library, Text *loadedFrom = nullptr);

// The descriptions of interface `iid`, each a new reference where asked for;
// fails with the loader's or the lookup's result.
HRESULT typeInfo(REFIID iid, LCID lcid, LibraryLoader load, ITypeInfo **dispatchInfo, ITypeInfo **vtableInfo);

// The function-table description of `iid`, lent rather than given: the
// module keeps every description it loaded until it unloads, so a caller
// that only uses it during a call needs no reference of its own. `kept` is
// the caller's slot, filled by the first call that loads it; later calls
// take no lock and count no reference.
inline HRESULT lentTypeInfo(std::atomic<ITypeInfo *> &kept, REFIID iid, LCID lcid, LibraryLoader load,
                            ITypeInfo *&info) {
  info = kept.load(std::memory_order_acquire);
  if (info != nullptr) return S_OK;
  ITypeInfo *loaded = nullptr;
  const HRESULT hr = typeInfo(iid, lcid, load, nullptr, &loaded);
  if (FAILED(hr)) return hr;
  kept.store(loaded, std::memory_order_release);
  // The module's own reference stays.
  loaded->Release();
  info = loaded;
  return S_OK;
}

}  // namespace rv::inproc
