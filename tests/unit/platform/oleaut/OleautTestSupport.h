// Small owners and helpers shared by the OLE Automation tests.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "OleOwners.h"

// Makes a raw variant hold a copy of a text (null stays null).
inline void putText(VARIANT *v, const OLECHAR *s) {
  V_VT(v) = VT_BSTR;
  V_BSTR(v) = SysAllocString(s);
}

// An IDispatch whose reference count the test can watch and whose value
// property (DISPID_VALUE) returns a fixed VT_I4.
class CountingDispatch : public IDispatch {
 public:
  explicit CountingDispatch(LONG value = 0) : value_(value) {}
  ULONG references() const { return references_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch);
    *ppv = known ? static_cast<IDispatch *>(this) : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS *, VARIANT *result, EXCEPINFO *,
                                   UINT *) override {
    if (member != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_I4;
    V_I4(result) = value_;
    return S_OK;
  }

 private:
  ULONG references_ = 1;
  LONG value_;
};
