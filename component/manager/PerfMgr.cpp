#include "PerfMgr.h"

#include "log/Frames.h"

namespace rv {

HRESULT PerfMgr::FinalConstruct() {
  RV_OPERATION("FinalConstruct");
  return memberFrame(RV_HERE, [&] {
    CreateChild(CLSID_PerfObjects, objects_);
    return S_OK;
  });
}

// The same collection for the whole life of the manager.
HRESULT PerfMgr::get_PerfObjects(IPerfObjects **objects) {
  if (objects == nullptr) return E_POINTER;
  *objects = ComPtr<IPerfObjects>(objects_).detach();
  return S_OK;
}

}  // namespace rv
