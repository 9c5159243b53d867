// Registration of a module's classes under HKEY_CLASSES_ROOT, as values the
// module lists, and of the module's own type library.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <vector>

#include "Module.h"

namespace rv::inproc {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
Text guidText(REFGUID guid);

// "CLSID\{...}"
Text classKey(REFCLSID clsid);

// One value the registration writes: the key under HKEY_CLASSES_ROOT, the
// value's name (null for the key's default value) and its text.
struct RegistryValue {
  Text key;
  const OLECHAR *name;
  Text data;
};

// What a module registers besides its classes' scripts: the keys it owns,
// each with its whole subtree; the values it writes, for the module's file;
// and whether its own type library goes with them (TypeInformation.h).
struct ServerRegistration {
  std::vector<Text> (*ownedKeys)();
  std::vector<RegistryValue> (*values)(const Text &module);
  bool typeLibrary;
};

// DllRegisterServer: the keys owned go first (what an earlier registration
// of another module file left), then the values, in order, then the type
// library. On a failure, given as its result code, none of the keys is left:
// a class half registered would be found and fail to start.
HRESULT registerServer(const ServerRegistration &server) noexcept;

// DllUnregisterServer: removes the keys and the type library's registration.
// Whatever is not there is no failure.
HRESULT unregisterServer(const ServerRegistration &server) noexcept;

// Registers the module's own type library, with the module's folder as its
// help folder.
HRESULT registerTypeLibrary();

// Removes the registration of the module's own type library.
void unregisterTypeLibrary();

}  // namespace rv::inproc
