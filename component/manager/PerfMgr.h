// The manager: the root of the tree and the object a host creates first.
#pragma once
#include "model/TRVPObjectImpl.h"

namespace rv {

class PerfMgr : public TRVPObjectImpl<PerfMgr, IPerfMgr> {
 public:
  static constexpr LONG TypeCode = 1;

  HRESULT STDMETHODCALLTYPE get_PerfObjects(IPerfObjects **objects) override;

  // Loading, registration, synchronisation and the settings arrive with the
  // manager.
  HRESULT STDMETHODCALLTYPE Load(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InstallLocation(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Register(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DeviceName(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveTimedOutInstances() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_PerformanceSetting(RVPerformanceSetting *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InstanceCleannupPolling(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_InstanceCleannupPolling(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SyncronizeFrom(IPerfMgr *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetCounters() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateTotalInstances() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CalcTotalInstances() override { return E_NOTIMPL; }

 protected:
  HRESULT FinalConstruct() override;

 private:
  ComPtr<IPerfObjects> objects_;
};

}  // namespace rv
