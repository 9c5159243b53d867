// Module-wide state: the lock count that decides whether the module may be
// unloaded, the module's own handle, the module lock, the class objects of
// the class table and the type information of the dual interfaces.
#pragma once
#include <windows.h>
#include <oleauto.h>

namespace rv {
struct ClassRow;
}

namespace Module {

// Every live object, every outstanding LockServer lock and every class
// object held by a client holds the module.
LONG lock();
LONG unlock();
LONG lockCount();

// The module's own handle, and the one its resources are loaded from.
HMODULE instance();
HMODULE resourceInstance();

// The class object of a row of the class table, created on first use; a new
// reference for the caller.
HRESULT classObject(const rv::ClassRow &row, REFIID riid, void **object);

// The type information of a dual interface of the registered type library:
// the dispatch description and the function-table description. Loaded once
// per interface; fails with the lookup's result when the library is not
// registered.
HRESULT typeInfo(REFIID iid, LCID lcid, ITypeInfo **dispatchInfo, ITypeInfo **vtableInfo);

}  // namespace Module
