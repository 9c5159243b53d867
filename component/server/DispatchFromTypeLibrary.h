// IDispatch for one dual interface, answered from the registered type
// library. The internal interfaces have no entry there, so their dispatch
// members fail with the lookup's result; the component calls them through
// their function tables only. Each member runs inside the kit's entry
// boundary.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <atomic>

#include "Boundary.h"
#include "ComPtr.h"
#include "InterfaceIds.h"
#include "TypeInformation.h"
#include "rvZedaZuvivurAzodav.h"

namespace rv {

// The contract's registered type library, version 1.0.
inline HRESULT loadContract(LCID lcid, ITypeLib **library) {
  return inproc::loadRegisteredLibrary(LIBID_rvZedaZuvivurAzodav_83, 1, 0, lcid, library);
}

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
    return inproc::boundary([&] { return inproc::typeInfo(iidOf<I>(), lcid, loadContract, info, nullptr); });
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return inproc::boundary([&] {
      ITypeInfo *info = nullptr;
      const HRESULT hr = description(lcid, info);
      if (FAILED(hr)) return hr;
      return DispGetIDsOfNames(info, names, count, ids);
    });
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS *parameters,
                                   VARIANT *result, EXCEPINFO *exception, UINT *argumentError) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return inproc::boundary([&] {
      ITypeInfo *info = nullptr;
      const HRESULT hr = description(lcid, info);
      if (FAILED(hr)) return hr;
      // The enumerator is a property; some script engines ask for it as a
      // method only, which the type information alone would refuse.
      if (member == DISPID_NEWENUM && flags == DISPATCH_METHOD) flags |= DISPATCH_PROPERTYGET;
      return DispInvoke(static_cast<I *>(this), info, member, flags, parameters, result, exception, argumentError);
    });
  }

 private:
  // The interface's function-table description, lent by the module.
  static HRESULT description(LCID lcid, ITypeInfo *&info) {
    static std::atomic<ITypeInfo *> kept{nullptr};
    return inproc::lentTypeInfo(kept, iidOf<I>(), lcid, loadContract, info);
  }
};

}  // namespace rv
