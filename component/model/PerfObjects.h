// The performance objects of a manager.
#pragma once
#include "PerfObject.h"
#include "TRVPCollectionImpl.h"

namespace rv {

class PerfObjects : public TRVPCollectionImpl<PerfObjects, IPerfObjects, IPerfObject, PerfObject> {
 public:
  static constexpr LONG TypeCode = 2;
  static constexpr const char *rvSourceUnit = "PerfObjects";

  // The _Total operations arrive with the performance objects.
  HRESULT STDMETHODCALLTYPE CreateTotalInstances() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CalcTotalInstances() override { return E_NOTIMPL; }
};

}  // namespace rv
