// The manager: the root of the tree and the object a host creates first.
#pragma once
#include "model/TRVPObjectImpl.h"

namespace rv {

class PerfMgr : public TRVPObjectImpl<PerfMgr, IPerfMgr> {
 public:
  static constexpr LONG TypeCode = 1;
  static constexpr const char *rvSourceUnit = "PerfMgr";

  HRESULT STDMETHODCALLTYPE get_PerfObjects(IPerfObjects **objects) override;

  // Loading the definition file and registration arrive with the definition file.
  HRESULT STDMETHODCALLTYPE Load(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InstallLocation(BSTR *location) override;
  HRESULT STDMETHODCALLTYPE Register(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DeviceName(BSTR *name) override { return deviceName_.read(name); }
  HRESULT STDMETHODCALLTYPE RemoveTimedOutInstances() override;
  HRESULT STDMETHODCALLTYPE get_PerformanceSetting(RVPerformanceSetting *setting) override;
  HRESULT STDMETHODCALLTYPE get_InstanceCleannupPolling(LONG *period) override {
    if (period == nullptr) return E_POINTER;
    *period = cleanupPolling_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_InstanceCleannupPolling(LONG period) override {
    cleanupPolling_ = period;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SyncronizeFrom(IPerfMgr *source) override;
  HRESULT STDMETHODCALLTYPE ResetCounters() override;
  HRESULT STDMETHODCALLTYPE CreateTotalInstances() override;
  HRESULT STDMETHODCALLTYPE CalcTotalInstances() override;

  // The manager's record after its ID: device name and polling period, then
  // the performance objects. The file names never travel.
  auto recordFields() { return std::tie(deviceName_, cleanupPolling_); }

 protected:
  HRESULT FinalConstruct() override;

 private:
  // Copies the non-empty values of `source` into the counters of the same ID
  // in `destination`.
  HRESULT SyncCounters(IPerfCounters *destination, IPerfCounters *source);
  void syncInstances(IPerfObject *destination, IPerfObject *source);

  // Runs the operation of the same name on the object collection, in this
  // manager's frame.
  template <typename Call> HRESULT forwardToObjects(const Site &site, Call &&call) {
    return memberFrame(site, [&] {
      raiseIfFailed(site, call(objects_.get()));
      return S_OK;
    });
  }

  ComPtr<IPerfObjects> objects_;
  TextField deviceName_;
  LONG cleanupPolling_ = 900;
};

}  // namespace rv
