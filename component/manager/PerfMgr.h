// The manager: the root of the tree and the object a host creates first.
#pragma once
#include "model/TRVPObjectImpl.h"

namespace rv {

class PerfMgr : public TRVPObjectImpl<PerfMgr, IPerfMgr> {
 public:
  static constexpr LONG TypeCode = 1;
  static constexpr const char *rvSourceUnit = "PerfMgr";

  HRESULT STDMETHODCALLTYPE get_PerfObjects(IPerfObjects **objects) override;

  // Loading, registration, synchronisation and the settings arrive with the
  // manager.
  HRESULT STDMETHODCALLTYPE Load(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InstallLocation(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Register(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DeviceName(BSTR *name) override { return deviceName_.read(name); }
  HRESULT STDMETHODCALLTYPE RemoveTimedOutInstances() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_PerformanceSetting(RVPerformanceSetting *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InstanceCleannupPolling(LONG *period) override {
    if (period == nullptr) return E_POINTER;
    *period = cleanupPolling_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_InstanceCleannupPolling(LONG period) override {
    cleanupPolling_ = period;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SyncronizeFrom(IPerfMgr *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetCounters() override;
  HRESULT STDMETHODCALLTYPE CreateTotalInstances() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CalcTotalInstances() override { return E_NOTIMPL; }

 // The manager's record after its ID: device name and polling period, then
  // the performance objects. The file names never travel.
  auto recordFields() { return std::tie(deviceName_, cleanupPolling_); }

 protected:
  HRESULT FinalConstruct() override;

 private:
  ComPtr<IPerfObjects> objects_;
  TextField deviceName_;
  LONG cleanupPolling_ = 900;
};

}  // namespace rv
