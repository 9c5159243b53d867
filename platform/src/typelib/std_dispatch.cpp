// CreateStdDispatch: an IDispatch for an object that has only a function
// table and a type description of it. The object may be aggregated: its
// IUnknown calls go to the outer object, and only the inner unknown knows
// the dispatch object's own reference count.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <new>

namespace {

class StdDispatch final : public IDispatch {
 public:
  StdDispatch(IUnknown *outer, void *instance, ITypeInfo *info)
      : inner_(this), outer_(outer ? outer : &inner_), instance_(instance), info_(info) {
    info_->AddRef();
  }
  ~StdDispatch() { info_->Release(); }

  IUnknown *inner() { return &inner_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    return outer_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) override {
    if (pctinfo == nullptr) return E_INVALIDARG;
    *pctinfo = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo **ppTInfo) override {
    if (ppTInfo == nullptr) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    info_->AddRef();
    *ppTInfo = info_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames, LCID,
                                          DISPID *rgDispId) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(info_, rgszNames, cNames, rgDispId);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS *pDispParams,
                                   VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispInvoke(instance_, info_, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
  }

 private:
  class Inner final : public IUnknown {
   public:
    explicit Inner(StdDispatch *owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
      if (ppv == nullptr) return E_POINTER;
      if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown *>(this);
      } else if (IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<IDispatch *>(owner_);
      } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown *>(*ppv)->AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
      ULONG left = --refs_;
      if (left == 0) delete owner_;
      return left;
    }

   private:
    StdDispatch *owner_;
    std::atomic<ULONG> refs_{1};
  };

  Inner inner_;
  IUnknown *outer_;
  void *instance_;
  ITypeInfo *info_;
};

}  // namespace

HRESULT WINAPI CreateStdDispatch(IUnknown *punkOuter, void *pvThis, ITypeInfo *ptinfo, IUnknown **ppunkStdDisp) {
  if (pvThis == nullptr || ptinfo == nullptr || ppunkStdDisp == nullptr) return E_INVALIDARG;
  *ppunkStdDisp = nullptr;
  auto *dispatch = new (std::nothrow) StdDispatch(punkOuter, pvThis, ptinfo);
  if (dispatch == nullptr) return E_OUTOFMEMORY;
  *ppunkStdDisp = dispatch->inner();
  return S_OK;
}
