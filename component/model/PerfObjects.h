// The performance objects of a manager.
#pragma once
#include "PerfObject.h"
#include "TRVPCollectionImpl.h"

namespace rv {

class PerfObjects : public TRVPCollectionImpl<PerfObjects, IPerfObjects, IPerfObject, PerfObject> {
 public:
  static constexpr LONG TypeCode = 2;
  static constexpr const char *rvSourceUnit = "PerfObjects";

  HRESULT STDMETHODCALLTYPE CreateTotalInstances() override;
  HRESULT STDMETHODCALLTYPE CalcTotalInstances() override;
};

}  // namespace rv
