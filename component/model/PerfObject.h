// A performance object: its counter template and its instances.
#pragma once
#include "TRVPObjectImpl.h"
#include "TextField.h"

namespace rv {

class PerfObject : public TRVPObjectImpl<PerfObject, IPerfObject> {
 public:
  static constexpr LONG TypeCode = 3;
  static constexpr const char *rvSourceUnit = "PerfObject";

  HRESULT STDMETHODCALLTYPE get_PerfCounters(IPerfCounters **counters) override;
  HRESULT STDMETHODCALLTYPE get_PerfInstances(IPerfInstances **instances) override;

  HRESULT STDMETHODCALLTYPE get_Name(BSTR *name) override { return name_.read(name); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override { return name_.put(name); }
  // The name as stored, null when absent; for the collection's lookups.
  BSTR nameText() const { return name_.get(); }
  HRESULT STDMETHODCALLTYPE get_Help(BSTR *help) override { return help_.read(help); }
  HRESULT STDMETHODCALLTYPE put_Help(BSTR help) override { return help_.put(help); }
  HRESULT STDMETHODCALLTYPE get_InstanceTimeout(LONG *timeout) override { return read(instanceTimeout_, timeout); }
  HRESULT STDMETHODCALLTYPE put_InstanceTimeout(LONG timeout) override { return store(instanceTimeout_, timeout); }
  HRESULT STDMETHODCALLTYPE get_HasInstances(VARIANT_BOOL *has) override { return read(hasInstances_, has); }
  HRESULT STDMETHODCALLTYPE put_HasInstances(VARIANT_BOOL has) override { return store(hasInstances_, has); }
  HRESULT STDMETHODCALLTYPE get_AutoCreateInstanceTotal(VARIANT_BOOL *total) override {
    return read(autoCreateTotal_, total);
  }
  HRESULT STDMETHODCALLTYPE put_AutoCreateInstanceTotal(VARIANT_BOOL total) override {
    return store(autoCreateTotal_, total);
  }
  HRESULT STDMETHODCALLTYPE ResetCounters() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(BSTR name, IPerfInstance **instance) override;
  HRESULT STDMETHODCALLTYPE CalcTotalInstance() override;

  // The object's record after its ID: name, help, time-out, the two flags,
  // then the counter template and the instances.
  auto recordFields() { return std::tie(name_, help_, instanceTimeout_, hasInstances_, autoCreateTotal_); }
  auto childFields() { return std::tie(counters_, instances_); }

 protected:
  HRESULT FinalConstruct() override;

 private:
  bool copiedTemplateInto(IPerfCounters *counters);
  template <typename T> static HRESULT read(T field, T *out) {
    if (out == nullptr) return E_POINTER;
    *out = field;
    return S_OK;
  }
  template <typename T> static HRESULT store(T &field, T value) {
    field = value;
    return S_OK;
  }

  TextField name_;
  TextField help_;
  ComPtr<IPerfCounters> counters_;
  ComPtr<IPerfInstances> instances_;
  LONG instanceTimeout_ = 0;
  VARIANT_BOOL hasInstances_ = VARIANT_FALSE;
  VARIANT_BOOL autoCreateTotal_ = VARIANT_FALSE;
};

}  // namespace rv
