// A counter: a value with its description, held by a counter collection.
#pragma once
#include "TRVPObjectImpl.h"

namespace rv {

class PerfCounter : public TRVPObjectImpl<PerfCounter, IPerfCounter> {
 public:
  static constexpr LONG TypeCode = 5;

  // The counter's own properties arrive with the object model.
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Help(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Help(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DefaultScale(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_DefaultScale(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CounterType(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CounterType(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CounterSize(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CounterSize(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetCounter() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AutoCalcInstanceTotal(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AutoCalcInstanceTotal(BSTR) override { return E_NOTIMPL; }
};

}  // namespace rv
