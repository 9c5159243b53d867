// The one template behind all seven classes: identity and type code, the two
// internal interfaces through which nodes talk to each other, the list of
// child collections, error-information support, and everything a COM object
// of this component is (ObjectRoot). A class states its interfaces once:
//
//   class PerfCounter : public TRVPObjectImpl<PerfCounter, IPerfCounter>
//   class PerfCounters : public TRVPObjectImpl<PerfCounters, IPerfCounters, IPerfCollection>
//
// Its interface table is IDispatch (served by the main interface), the main
// interface, the extra interfaces, IPerfCommon, IPerfTransfer and
// ISupportErrorInfo, in that order.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "log/Err.h"
#include "rvZedaZuvivurAzodav.h"
#include "server/ComPtr.h"
#include "server/DispatchFromTypeLibrary.h"
#include "server/InterfaceIds.h"
#include "server/ObjectRoot.h"

namespace rv {

template <typename Derived, typename Main, typename... Extra>
class TRVPObjectImpl : public ObjectRoot,
                       public DispatchFromTypeLibrary<Main>,
                       public DispatchFromTypeLibrary<Extra>...,
                       public DispatchFromTypeLibrary<IPerfCommon>,
                       public DispatchFromTypeLibrary<IPerfTransfer>,
                       public ISupportErrorInfo {
 public:
  // Collections carry IPerfCollection and no ID of their own.
  static constexpr bool IsCollection = sizeof...(Extra) > 0;

  // IUnknown of every interface: the controlling unknown decides.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    return controllingUnknown()->QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return controllingUnknown()->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return controllingUnknown()->Release(); }

  // Only the class's own main interface reports its failures through error
  // information.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, iidOf<Main>()) ? S_OK : S_FALSE;
  }

  // ID: read and written without validation on objects; collections have none.
  HRESULT STDMETHODCALLTYPE get_ID(LONG *value) override {
    if constexpr (IsCollection) {
      return E_NOTIMPL;
    } else {
      if (value == nullptr) return E_POINTER;
      *value = id_;
      return S_OK;
    }
  }
  HRESULT STDMETHODCALLTYPE put_ID(LONG value) override {
    if constexpr (IsCollection) {
      return E_NOTIMPL;
    } else {
      id_ = value;
      return S_OK;
    }
  }

  HRESULT STDMETHODCALLTYPE get_ItemType(LONG *value) override {
    if (value == nullptr) return E_POINTER;
    *value = Derived::TypeCode;
    return S_OK;
  }

  // Serialization and cloning arrive with the transfer format.
  HRESULT STDMETHODCALLTYPE get_MyBlob(RVBlobTypeEnum, VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_MyBlob(RVBlobTypeEnum, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyFrom(IDispatch *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSize(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateArray(VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TransferIn(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TransferOut(VARIANT *) override { return E_NOTIMPL; }

 protected:
  static constexpr const char *rvSourceUnit = "CommonComponents\\PerfMon\\rvZedaZuvivurAzodav\\TRVPObjectImpl";

  void *findInterface(REFIID riid) override {
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, iidOf<Main>())) return static_cast<Main *>(this);
    void *found = nullptr;
    ((found = found != nullptr ? found : (IsEqualIID(riid, iidOf<Extra>()) ? static_cast<Extra *>(this) : nullptr)),
     ...);
    if (found != nullptr) return found;
    if (IsEqualIID(riid, IID_IPerfCommon)) return static_cast<IPerfCommon *>(this);
    if (IsEqualIID(riid, IID_IPerfTransfer)) return static_cast<IPerfTransfer *>(this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo *>(this);
    return nullptr;
  }

  // Creates a child collection through class activation, keeps the counted
  // reference in `field` and records the child, in creation order, for the
  // transfer of the tree.
  template <typename I> void CreateChild(REFCLSID clsid, ComPtr<I> &field) {
    RV_OPERATION("CreateChild");
    ComPtr<IDispatch> child;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, child.putVoid());
    if (FAILED(hr)) raiseResult(RV_HERE, hr);
    hr = child.query(iidOf<I>(), field);
    if (FAILED(hr)) raiseResult(RV_HERE, hr);
    children_.push_back(child.get());
  }

  LONG id_ = 0;
  // The child collections, in creation order; the class's own fields hold
  // the references.
  std::vector<IDispatch *> children_;
};

}  // namespace rv
