// A performance object: its counter template and its instances.
#pragma once
#include "TRVPObjectImpl.h"

namespace rv {

class PerfObject : public TRVPObjectImpl<PerfObject, IPerfObject> {
 public:
  static constexpr LONG TypeCode = 3;

  HRESULT STDMETHODCALLTYPE get_PerfCounters(IPerfCounters **counters) override;
  HRESULT STDMETHODCALLTYPE get_PerfInstances(IPerfInstances **instances) override;

  // The object's own properties and operations arrive with the object model.
  HRESULT STDMETHODCALLTYPE get_Name(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Help(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Help(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InstanceTimeout(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_InstanceTimeout(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_HasInstances(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_HasInstances(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AutoCreateInstanceTotal(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AutoCreateInstanceTotal(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetCounters() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateInstance(BSTR, IPerfInstance **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CalcTotalInstance() override { return E_NOTIMPL; }

 protected:
  HRESULT FinalConstruct() override;

 private:
  ComPtr<IPerfCounters> counters_;
  ComPtr<IPerfInstances> instances_;
};

}  // namespace rv
