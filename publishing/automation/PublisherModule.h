// What the rvTreePublisher module holds for all its objects: the count that
// decides whether it may be unloaded, its own handle and path, and the type
// information its objects dispatch through.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

namespace rv::automation {

using Text = std::basic_string<OLECHAR>;

// Every live object and every reference a client holds on the class object
// holds the module.
void lockModule();
void unlockModule();
LONG moduleLocks();

// The file the module was loaded from, in the system's form.
Text modulePath();

// The module's own type library, type library resource 1 of the module.
HRESULT loadTypeLibrary(ITypeLib **library);

// The dispatch description of ITreePublisher and the function-table
// description that calls go through, loaded once from the module itself, so
// that an object dispatches whether or not the library is registered.
HRESULT publisherTypeInfo(ITypeInfo **dispatchInfo, ITypeInfo **vtableInfo);

}  // namespace rv::automation
