// One named occurrence of a performance object, with its own live counters
// and the time its values were last set.
#pragma once
#include "TRVPObjectImpl.h"
#include "TextField.h"

namespace rv {

class PerfInstance : public TRVPObjectImpl<PerfInstance, IPerfInstance> {
 public:
  static constexpr LONG TypeCode = 7;
  static constexpr const char *rvSourceUnit = "PerfInstance";

  HRESULT STDMETHODCALLTYPE get_Name(BSTR *name) override { return name_.read(name); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override { return name_.put(name); }
  // The name as stored, null when absent; for the collection's lookups.
  BSTR nameText() const { return name_.get(); }
  HRESULT STDMETHODCALLTYPE get_PerfCounters(IPerfCounters **counters) override;
  HRESULT STDMETHODCALLTYPE put_TimeStamp(DATE stamp) override {
    timeStamp_ = stamp;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_TimeStamp(DATE *stamp) override {
    if (stamp == nullptr) return E_POINTER;
    *stamp = timeStamp_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ResetCounters() override;

  // The instance's record after its ID: name and time stamp, then its counters.
  auto recordFields() { return std::tie(name_, timeStamp_); }

 protected:
  HRESULT FinalConstruct() override;

 private:
  TextField name_;
  ComPtr<IPerfCounters> counters_;
  DATE timeStamp_ = 0.0;
};

}  // namespace rv
