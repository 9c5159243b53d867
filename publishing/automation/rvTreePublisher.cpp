// The entry points the system calls on the in-process server: the class
// object of TreePublisher, the unload check, and registration of the class,
// its two ProgIDs and the module's type library.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <vector>

#include "EntryPoints.h"
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

const inproc::ServerRegistration Registration = {ownedKeys, registryValues, true};

}  // namespace

INPROC_ENTRY_POINTS(Classes, Registration)
