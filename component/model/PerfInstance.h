// One occurrence of a performance object, with its own live counters.
#pragma once
#include "TRVPObjectImpl.h"

namespace rv {

class PerfInstance : public TRVPObjectImpl<PerfInstance, IPerfInstance> {
 public:
  static constexpr LONG TypeCode = 7;

  HRESULT STDMETHODCALLTYPE get_PerfCounters(IPerfCounters **counters) override;

  // The instance's own properties arrive with the object model.
  HRESULT STDMETHODCALLTYPE get_Name(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_TimeStamp(DATE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_TimeStamp(DATE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetCounters() override { return E_NOTIMPL; }

 protected:
  HRESULT FinalConstruct() override;

 private:
  ComPtr<IPerfCounters> counters_;
};

}  // namespace rv
