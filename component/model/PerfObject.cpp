#include "PerfObject.h"

#include "log/Frames.h"

namespace rv {

// The counter template first, then the instances: the order of the children
// in the object's blob.
HRESULT PerfObject::FinalConstruct() {
  RV_OPERATION("FinalConstruct");
  return memberFrame(RV_HERE, [&] {
    CreateChild(CLSID_PerfCounters, counters_);
    CreateChild(CLSID_PerfInstances, instances_);
    return S_OK;
  });
}

HRESULT PerfObject::get_PerfCounters(IPerfCounters **counters) {
  if (counters == nullptr) return E_POINTER;
  *counters = ComPtr<IPerfCounters>(counters_).detach();
  return S_OK;
}

HRESULT PerfObject::get_PerfInstances(IPerfInstances **instances) {
  if (instances == nullptr) return E_POINTER;
  *instances = ComPtr<IPerfInstances>(instances_).detach();
  return S_OK;
}

// The template first, then the instances, _Total among them.
HRESULT PerfObject::ResetCounters() {
  RV_OPERATION("ResetCounters");
  return memberFrame(RV_HERE, [&] {
    raiseIfFailed(RV_HERE, counters_->ResetCounters());
    raiseIfFailed(RV_HERE, instances_->ResetCounters());
    return S_OK;
  });
}

}  // namespace rv
