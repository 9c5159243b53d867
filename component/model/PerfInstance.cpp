#include "PerfInstance.h"

#include "log/Frames.h"

RV_SOURCE_UNIT("PerfInstance")

namespace rv {

HRESULT PerfInstance::FinalConstruct() {
  RV_OPERATION("FinalConstruct");
  return memberFrame(RV_HERE, [&] {
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

}  // namespace rv
