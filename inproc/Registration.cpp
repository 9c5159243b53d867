#include "Registration.h"

#include <oleauto.h>

#include "Boundary.h"
#include "Module.h"
#include "TypeInformation.h"

namespace rv::inproc {

namespace {

void removeKeys(const std::vector<Text> &keys) {
  for (const Text &key : keys) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  }
}

// Stops at the first failure and gives it as a result code.
HRESULT writeValues(const std::vector<RegistryValue> &values) {
  for (const RegistryValue &value : values) {
    HKEY key = nullptr;
    LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) {
      error = RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.data.c_str()),
                             static_cast<DWORD>((value.data.size() + 1) * sizeof(OLECHAR)));
      RegCloseKey(key);
    }
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  }
  return S_OK;
}

}  // namespace

Text guidText(REFGUID guid) {
  OLECHAR text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

Text classKey(REFCLSID clsid) { return OLESTR("CLSID\\") + guidText(clsid); }

HRESULT registerServer(const ServerRegistration &server) noexcept {
  return boundary([&] {
    const std::vector<Text> owned = server.ownedKeys();
    removeKeys(owned);
    HRESULT hr = writeValues(server.values(Module::path()));
    if (SUCCEEDED(hr) && server.typeLibrary) hr = registerTypeLibrary();
    if (FAILED(hr)) removeKeys(owned);
    return hr;
  });
}

HRESULT unregisterServer(const ServerRegistration &server) noexcept {
  return boundary([&] {
    removeKeys(server.ownedKeys());
    if (server.typeLibrary) unregisterTypeLibrary();
    return S_OK;
  });
}

HRESULT registerTypeLibrary() {
  ITypeLib *library = nullptr;
  Text loadedFrom;
  HRESULT hr = loadModuleLibrary(&library, &loadedFrom);
  if (FAILED(hr)) return hr;
  Text helpFolder = folderOf(Module::path());
  hr = RegisterTypeLib(library, loadedFrom.data(), helpFolder.data());
  library->Release();
  return hr;
}

// UnRegisterTypeLib is called directly: every oleaut32 that this module can
// be loaded with exports it (Windows since NT 4, Wine, the platform layer).
void unregisterTypeLibrary() {
  ITypeLib *library = nullptr;
  if (FAILED(loadModuleLibrary(&library))) return;
  TLIBATTR *attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&attributes))) {
    UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                      attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
}

}  // namespace rv::inproc
