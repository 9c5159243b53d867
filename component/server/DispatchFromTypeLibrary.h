// IDispatch for one dual interface, answered from the registered type
// library. The internal interfaces have no entry there, so their dispatch
// members fail with the lookup's result; the component calls them through
// their function tables only.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "ComPtr.h"
#include "InterfaceIds.h"
#include "Module.h"

namespace rv {

template <typename I> class DispatchFromTypeLibrary : public I {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return Module::typeInfo(iidOf<I>(), lcid, info, nullptr);
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid,
                                          DISPID *ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = Module::typeInfo(iidOf<I>(), lcid, nullptr, info.put());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(info.get(), names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS *parameters,
                                   VARIANT *result, EXCEPINFO *exception, UINT *argumentError) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = Module::typeInfo(iidOf<I>(), lcid, nullptr, info.put());
    if (FAILED(hr)) return hr;
    // The enumerator is a property; some script engines ask for it as a
    // method only, which the type information alone would refuse.
    if (member == DISPID_NEWENUM && flags == DISPATCH_METHOD) flags |= DISPATCH_PROPERTYGET;
    return DispInvoke(static_cast<I *>(this), info.get(), member, flags, parameters, result, exception,
                      argumentError);
  }
};

}  // namespace rv
