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
#include "InprocServer.h"
#include "log/OutsideComponents.h"

using namespace rv;
using namespace rv::companion;

namespace {

// One class of the module. The ProgID is registered only where a caller
// creates the class by it.
struct ClassEntry {
  const CLSID &clsid;
  inproc::ClassObject::Create create;
  const OLECHAR *title;
  const OLECHAR *progId;
};

const ClassEntry Classes[] = {
    {rv::CLSID_ErrorLog, createErrorLog, OLESTR("rvCompanion ErrorLog Class"), nullptr},
    {rv::CLSID_TraceSettings, createTraceSettings, OLESTR("rvCompanion TraceSettings Class"), nullptr},
    {CLSID_ViewerHelper, createViewer, OLESTR("TraceConsole_83 ViewerHelper Class"), ViewerProgId},
    {rv::CLSID_FolderBranding, createFolderBranding, OLESTR("rvCompanion FolderBranding Class"), nullptr},
};

constexpr inproc::ModuleLock Module{lockModule, unlockModule};
inproc::ClassObject classObjects[] = {
    inproc::ClassObject(Classes[0].create, Module), inproc::ClassObject(Classes[1].create, Module),
    inproc::ClassObject(Classes[2].create, Module), inproc::ClassObject(Classes[3].create, Module)};
static_assert(std::size(classObjects) == std::size(Classes));

// The keys the registration owns; each goes with its whole subtree.
std::vector<Text> ownedKeys() {
  std::vector<Text> keys;
  for (const ClassEntry &entry : Classes) {
    keys.push_back(inproc::classKey(entry.clsid));
    if (entry.progId != nullptr) keys.push_back(entry.progId);
  }
  return keys;
}

std::vector<inproc::RegistryValue> registryValues(const Text &module) {
  std::vector<inproc::RegistryValue> values;
  for (const ClassEntry &entry : Classes) {
    const Text key = inproc::classKey(entry.clsid);
    values.push_back({key, nullptr, entry.title});
    values.push_back({key + OLESTR("\\InprocServer32"), nullptr, module});
    values.push_back({key + OLESTR("\\InprocServer32"), OLESTR("ThreadingModel"), OLESTR("Both")});
    if (entry.progId == nullptr) continue;
    const Text progId = entry.progId;
    values.push_back({key + OLESTR("\\ProgID"), nullptr, progId});
    values.push_back({progId, nullptr, entry.title});
    values.push_back({progId + OLESTR("\\CLSID"), nullptr, inproc::guidText(entry.clsid)});
  }
  return values;
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
  inproc::removeKeys(ownedKeys());
  const HRESULT hr = inproc::writeValues(registryValues(modulePath()));
  // A class half registered would be found and fail to start; none is left.
  if (FAILED(hr)) inproc::removeKeys(ownedKeys());
  return hr;
}

STDAPI DllUnregisterServer(void) {
  inproc::removeKeys(ownedKeys());
  return S_OK;
}
