// The type information a module's objects dispatch through: the dispatch
// description of a dual interface and the function-table description that
// calls go through, loaded once per interface and kept for the module's life.
#pragma once
#include <windows.h>
#include <oleauto.h>

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

}  // namespace rv::inproc
