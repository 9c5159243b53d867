#include "PerfInstance.h"

#include "log/Frames.h"

namespace rv {

HRESULT PerfInstance::FinalConstruct() {
  RV_OPERATION("FinalConstruct");
  return memberFrame(RV_HERE, [&] {
    timeStamp_ = 0.0;
    CreateChild(CLSID_PerfCounters, counters_);
    return S_OK;
  });
}

// Always the same collection, for the whole life of the instance.
HRESULT PerfInstance::get_PerfCounters(IPerfCounters **counters) {
  if (counters == nullptr) return E_POINTER;
  *counters = ComPtr<IPerfCounters>(counters_).detach();
  return S_OK;
}

// Name and time stamp stay; every counter's value is emptied.
HRESULT PerfInstance::ResetCounters() {
  RV_OPERATION("ResetCounters");
  return memberFrame(RV_HERE, [&] {
    raiseIfFailed(RV_HERE, counters_->ResetCounters());
    return S_OK;
  });
}

}  // namespace rv
