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

// Every counter of every object, template and instances alike, becomes empty.
HRESULT PerfMgr::ResetCounters() {
  RV_OPERATION("ResetCounters");
  return memberFrame(RV_HERE, [&] {
    raiseIfFailed(RV_HERE, objects_->ResetCounters());
    return S_OK;
  });
}

}  // namespace rv
