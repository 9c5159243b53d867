// The entry points the system calls on the in-process server: the class
// objects of the four classes, the unload check, and registration of the
// classes (and of the viewer's ProgID, by which the component finds it).
// Unregistration removes the classes; the settings under
// HKEY_LOCAL_MACHINE\SOFTWARE\rvZedaZuvivurAzodav are the administrator's
// and stay.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <vector>

#include "CompanionModule.h"
#include "log/OutsideComponents.h"

using namespace rv;
using namespace rv::companion;

namespace {

using Create = HRESULT (*)(REFIID, void **);

// One class of the module. The ProgID is registered only where a caller
// creates the class by it.
struct ClassEntry {
  const CLSID &clsid;
  Create create;
  const OLECHAR *title;
  const OLECHAR *progId;
};

const ClassEntry Classes[] = {
    {rv::CLSID_ErrorLog, createErrorLog, OLESTR("rvCompanion ErrorLog Class"), nullptr},
    {rv::CLSID_TraceSettings, createTraceSettings, OLESTR("rvCompanion TraceSettings Class"), nullptr},
    {CLSID_ViewerHelper, createViewer, OLESTR("TraceConsole_83 ViewerHelper Class"), ViewerProgId},
    {rv::CLSID_FolderBranding, createFolderBranding, OLESTR("rvCompanion FolderBranding Class"), nullptr},
};

// The class objects live as long as the module; a client's reference to one
// holds the module, as LockServer does.
class ClassObject final : public IClassFactory {
 public:
  explicit ClassObject(Create create) : create_(create) {}

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
    return create_(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      lockModule();
    else
      unlockModule();
    return S_OK;
  }

 private:
  Create create_;
};

ClassObject classObjects[] = {ClassObject(Classes[0].create), ClassObject(Classes[1].create),
                              ClassObject(Classes[2].create), ClassObject(Classes[3].create)};
static_assert(std::size(classObjects) == std::size(Classes));

Text guidText(REFGUID guid) {
  OLECHAR text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

Text classKey(const ClassEntry &entry) { return OLESTR("CLSID\\") + guidText(entry.clsid); }

// One value the registration writes: the key under HKEY_CLASSES_ROOT, the
// value's name (null for the key's default value) and its text.
struct RegistryValue {
  Text key;
  const OLECHAR *name;
  Text data;
};

// The keys the registration owns; each goes with its whole subtree.
std::vector<Text> ownedKeys() {
  std::vector<Text> keys;
  for (const ClassEntry &entry : Classes) {
    keys.push_back(classKey(entry));
    if (entry.progId != nullptr) keys.push_back(entry.progId);
  }
  return keys;
}

std::vector<RegistryValue> registryValues(const Text &module) {
  std::vector<RegistryValue> values;
  for (const ClassEntry &entry : Classes) {
    const Text key = classKey(entry);
    values.push_back({key, nullptr, entry.title});
    values.push_back({key + OLESTR("\\InprocServer32"), nullptr, module});
    values.push_back({key + OLESTR("\\InprocServer32"), OLESTR("ThreadingModel"), OLESTR("Both")});
    if (entry.progId == nullptr) continue;
    const Text progId = entry.progId;
    values.push_back({key + OLESTR("\\ProgID"), nullptr, progId});
    values.push_back({progId, nullptr, entry.title});
    values.push_back({progId + OLESTR("\\CLSID"), nullptr, guidText(entry.clsid)});
  }
  return values;
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
  for (size_t at = 0; at < std::size(Classes); ++at)
    if (IsEqualCLSID(rclsid, Classes[at].clsid)) return classObjects[at].QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllRegisterServer(void) {
  // Values left by an earlier registration of another module file go first.
  removeKeys();
  for (const RegistryValue &value : registryValues(modulePath()))
    if (const LONG error = writeValue(value); error != ERROR_SUCCESS) {
      // A class half registered would be found and fail to start; none is left.
      removeKeys();
      return HRESULT_FROM_WIN32(error);
    }
  return S_OK;
}

STDAPI DllUnregisterServer(void) {
  removeKeys();
  return S_OK;
}
