// The manager: the root of the tree and the object a host creates first.
#pragma once
#include <msxml2.h>

#include "model/TRVPObjectImpl.h"
#include "server/Text.h"

namespace rv {

class LoadProgress;
struct DefinitionNames;

class PerfMgr : public TRVPObjectImpl<PerfMgr, IPerfMgr> {
 public:
  static constexpr LONG TypeCode = 1;
  static constexpr const char *rvSourceUnit = "PerfMgr";

  HRESULT STDMETHODCALLTYPE get_PerfObjects(IPerfObjects **objects) override;

  HRESULT STDMETHODCALLTYPE Load(BSTR folder) override;
  HRESULT STDMETHODCALLTYPE get_InstallLocation(BSTR *location) override;
  HRESULT STDMETHODCALLTYPE Register(BSTR folder) override;
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
  auto childFields() { return std::tie(objects_); }

 protected:
  HRESULT FinalConstruct() override;

 private:
  // The Windows counter type a definition file's type name stands for.
  HRESULT LookupCounterType(BSTR name, LONG *type);
  // The registration steps; `folder` ends in a backslash.
  HRESULT CreateHeaderFile(const Text &folder);
  HRESULT CreateIniFile(const Text &folder);
  HRESULT SetupRegistry(const Text &folder);
  HRESULT RegisterWithWindows(const Text &folder);
  // Builds one object of the definition file, its counters included, with
  // IDs from `nextId` on, writing each step's debug line to `progress`.
  void loadObject(IXMLDOMNode *element, LONG &nextId, const DefinitionNames &names, LoadProgress &progress);
  // The folder given, or the module's own when none is.
  Text folderOr(BSTR given, const Site &site);

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
  // The settings of the definition file. Only the device name travels in the
  // blob; the file names stay with the manager that loaded them.
  TextField headerFile_;
  TextField iniFile_;
  TextField perfmonDLLFile_;
  TextField deviceName_;
  LONG cleanupPolling_ = 900;
};

}  // namespace rv
