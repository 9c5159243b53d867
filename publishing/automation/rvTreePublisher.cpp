// The entry points the system calls on the in-process server: the class
// object of TreePublisher, the unload check, and registration of the class,
// its two ProgIDs and the module's type library.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <vector>

#include "Boundary.h"
#include "ClassObject.h"
#include "Module.h"
#include "Registration.h"
#include "TreePublisherObject.h"
#include "rvTreePublisher.h"

using namespace rv;
using namespace rv::automation;

namespace {

const OLECHAR ProgId[] = OLESTR("rvTreePublisher.TreePublisher");
const OLECHAR VersionedProgId[] = OLESTR("rvTreePublisher.TreePublisher.1");
const OLECHAR Title[] = OLESTR("TreePublisher Class");

struct ClassRow {
  const CLSID *clsid;
  mutable inproc::ClassObject classObject;
};

const ClassRow Classes[] = {{&CLSID_TreePublisher, inproc::ClassObject(TreePublisherObject::create)}};

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

STDAPI DllCanUnloadNow(void) { return Module::canUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  return inproc::boundary([&] { return inproc::getClassObject(Classes, rclsid, riid, ppv); });
}

STDAPI DllRegisterServer(void) {
  return inproc::boundary([] { return inproc::registerServer(ownedKeys(), registryValues(Module::path()), true); });
}

STDAPI DllUnregisterServer(void) {
  return inproc::boundary([] {
    inproc::unregisterServer(ownedKeys(), true);
    return S_OK;
  });
}
