// The entry points the system calls on the in-process server: the class
// object of TreePublisher, the unload check, and registration of the class,
// its two ProgIDs and the module's type library.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <vector>

#include "ComPtr.h"
#include "PublisherModule.h"
#include "TreePublisherObject.h"
#include "rvTreePublisher.h"

using namespace rv;
using namespace rv::automation;

namespace {

const OLECHAR ProgId[] = OLESTR("rvTreePublisher.TreePublisher");
const OLECHAR VersionedProgId[] = OLESTR("rvTreePublisher.TreePublisher.1");
const OLECHAR Title[] = OLESTR("TreePublisher Class");

// The class object lives as long as the module; a client's reference to it
// holds the module, as LockServer does.
class ClassObject final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    lockModule();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    unlockModule();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return TreePublisherObject::create(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      lockModule();
    else
      unlockModule();
    return S_OK;
  }
};

ClassObject classObject;

Text guidText(REFGUID guid) {
  OLECHAR text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// One value the registration writes: the key under HKEY_CLASSES_ROOT, the
// value's name (null for the key's default value) and its text.
struct RegistryValue {
  Text key;
  const OLECHAR *name;
  Text data;
};

Text classKey() { return OLESTR("CLSID\\") + guidText(CLSID_TreePublisher); }

// The keys the registration owns; each goes with its whole subtree.
std::vector<Text> ownedKeys() { return {ProgId, VersionedProgId, classKey()}; }

std::vector<RegistryValue> registryValues(const Text &module) {
  const Text clsid = guidText(CLSID_TreePublisher);
  const Text progId = ProgId, versioned = VersionedProgId, key = classKey();
  return {
      {progId, nullptr, Title},
      {progId + OLESTR("\\CLSID"), nullptr, clsid},
      {progId + OLESTR("\\CurVer"), nullptr, versioned},
      {versioned, nullptr, Title},
      {versioned + OLESTR("\\CLSID"), nullptr, clsid},
      {key, nullptr, Title},
      {key + OLESTR("\\ProgID"), nullptr, versioned},
      {key + OLESTR("\\VersionIndependentProgID"), nullptr, progId},
      {key + OLESTR("\\InprocServer32"), nullptr, module},
      {key + OLESTR("\\InprocServer32"), OLESTR("ThreadingModel"), OLESTR("Both")},
      {key + OLESTR("\\TypeLib"), nullptr, guidText(LIBID_rvTreePublisher)},
      {key + OLESTR("\\Version"), nullptr, OLESTR("1.0")},
  };
}

LONG writeValue(const RegistryValue &value) {
  HKEY key = nullptr;
  LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_SET_VALUE, nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return error;
  error = RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.data.c_str()),
                         static_cast<DWORD>((value.data.size() + 1) * sizeof(OLECHAR)));
  RegCloseKey(key);
  return error;
}

void removeKeys() {
  for (const Text &key : ownedKeys()) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  }
}

}  // namespace

STDAPI DllCanUnloadNow(void) { return moduleLocks() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_TreePublisher)) return CLASS_E_CLASSNOTAVAILABLE;
  return classObject.QueryInterface(riid, ppv);
}

STDAPI DllRegisterServer(void) {
  const Text module = modulePath();
  // Values left by an earlier registration of another module file go first.
  removeKeys();
  HRESULT hr = S_OK;
  for (const RegistryValue &value : registryValues(module))
    if (const LONG error = writeValue(value); error != ERROR_SUCCESS) {
      hr = HRESULT_FROM_WIN32(error);
      break;
    }
  ComPtr<ITypeLib> library;
  if (SUCCEEDED(hr)) hr = loadTypeLibrary(library.put());
  if (SUCCEEDED(hr)) {
    Text path = module;
    const size_t slash = module.find_last_of('\\');
    Text helpFolder = slash == Text::npos ? Text() : module.substr(0, slash);
    hr = RegisterTypeLib(library.get(), path.data(), helpFolder.data());
  }
  // A class half registered would be found and fail to start; none is left.
  if (FAILED(hr)) removeKeys();
  return hr;
}

STDAPI DllUnregisterServer(void) {
  removeKeys();
  ComPtr<ITypeLib> library;
  TLIBATTR *attributes = nullptr;
  if (SUCCEEDED(loadTypeLibrary(library.put())) && SUCCEEDED(library->GetLibAttr(&attributes))) {
    UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                      attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  return S_OK;
}
