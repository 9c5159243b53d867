// The entry points the system calls on the in-process server: the class
// object of TreePublisher, the unload check, and registration of the class,
// its two ProgIDs and the module's type library.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <vector>

#include "ComPtr.h"
#include "InprocServer.h"
#include "PublisherModule.h"
#include "TreePublisherObject.h"
#include "rvTreePublisher.h"

using namespace rv;
using namespace rv::automation;

namespace {

const OLECHAR ProgId[] = OLESTR("rvTreePublisher.TreePublisher");
const OLECHAR VersionedProgId[] = OLESTR("rvTreePublisher.TreePublisher.1");
const OLECHAR Title[] = OLESTR("TreePublisher Class");

inproc::ClassObject classObject(TreePublisherObject::create, {lockModule, unlockModule});

// The keys the registration owns; each goes with its whole subtree.
std::vector<Text> ownedKeys() { return {ProgId, VersionedProgId, inproc::classKey(CLSID_TreePublisher)}; }

std::vector<inproc::RegistryValue> registryValues(const Text &module) {
  const Text clsid = inproc::guidText(CLSID_TreePublisher);
  const Text progId = ProgId, versioned = VersionedProgId, key = inproc::classKey(CLSID_TreePublisher);
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
      {key + OLESTR("\\TypeLib"), nullptr, inproc::guidText(LIBID_rvTreePublisher)},
      {key + OLESTR("\\Version"), nullptr, OLESTR("1.0")},
  };
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
  inproc::removeKeys(ownedKeys());
  HRESULT hr = inproc::writeValues(registryValues(module));
  ComPtr<ITypeLib> library;
  if (SUCCEEDED(hr)) hr = loadTypeLibrary(library.put());
  if (SUCCEEDED(hr)) {
    Text path = module;
    const size_t slash = module.find_last_of('\\');
    Text helpFolder = slash == Text::npos ? Text() : module.substr(0, slash);
    hr = RegisterTypeLib(library.get(), path.data(), helpFolder.data());
  }
  // A class half registered would be found and fail to start; none is left.
  if (FAILED(hr)) inproc::removeKeys(ownedKeys());
  return hr;
}

STDAPI DllUnregisterServer(void) {
  inproc::removeKeys(ownedKeys());
  ComPtr<ITypeLib> library;
  TLIBATTR *attributes = nullptr;
  if (SUCCEEDED(loadTypeLibrary(library.put())) && SUCCEEDED(library->GetLibAttr(&attributes))) {
    UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                      attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  return S_OK;
}
