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
#include "EntryPoints.h"
#include "rvOutsideComponents.h"

using namespace rv;
using namespace rv::companion;

namespace {

// One class of the module. The ProgID is registered only where a caller
// creates the class by it.
struct ClassRow {
  const CLSID *clsid;
  const OLECHAR *title;
  const OLECHAR *progId;
  mutable inproc::ClassObject classObject;
};

const ClassRow Classes[] = {
    {&rv::CLSID_ErrorLog, OLESTR("rvCompanion ErrorLog Class"), nullptr, inproc::ClassObject(createErrorLog)},
    {&rv::CLSID_TraceSettings, OLESTR("rvCompanion TraceSettings Class"), nullptr,
     inproc::ClassObject(createTraceSettings)},
    {&CLSID_ViewerHelper, OLESTR("TraceConsole_83 ViewerHelper Class"), ViewerProgId,
     inproc::ClassObject(createViewer)},
    {&rv::CLSID_FolderBranding, OLESTR("rvCompanion FolderBranding Class"), nullptr,
     inproc::ClassObject(createFolderBranding)},
};

// The keys the registration owns; each goes with its whole subtree.
std::vector<Text> ownedKeys() {
  std::vector<Text> keys;
  for (const ClassRow &row : Classes) {
    keys.push_back(inproc::classKey(*row.clsid));
    if (row.progId != nullptr) keys.push_back(row.progId);
  }
  return keys;
}

std::vector<inproc::RegistryValue> registryValues(const Text &module) {
  std::vector<inproc::RegistryValue> values;
  for (const ClassRow &row : Classes) {
    const Text key = inproc::classKey(*row.clsid);
    values.push_back({key, nullptr, row.title});
    values.push_back({key + OLESTR("\\InprocServer32"), nullptr, module});
    values.push_back({key + OLESTR("\\InprocServer32"), OLESTR("ThreadingModel"), OLESTR("Both")});
    if (row.progId == nullptr) continue;
    const Text progId = row.progId;
    values.push_back({key + OLESTR("\\ProgID"), nullptr, progId});
    values.push_back({progId, nullptr, row.title});
    values.push_back({progId + OLESTR("\\CLSID"), nullptr, inproc::guidText(*row.clsid)});
  }
  return values;
}

// The settings are not the registration's: they stay when the module goes.
const inproc::ServerRegistration Registration = {ownedKeys, registryValues, false};

}  // namespace

INPROC_ENTRY_POINTS(Classes, Registration)
