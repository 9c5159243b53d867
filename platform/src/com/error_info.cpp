// Error information: the object CreateErrorInfo makes, and the one slot per
// thread that SetErrorInfo fills and GetErrorInfo empties. No apartment is
// needed for any of them.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <new>

namespace {

// One object behind ICreateErrorInfo, IErrorInfo and ISupportErrorInfo. A
// field never set reads back as a null string (GUID_NULL, context 0).
class ErrorInfo final : public ICreateErrorInfo, public IErrorInfo, public ISupportErrorInfo {
 public:
  ~ErrorInfo() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(helpFile_);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICreateErrorInfo))
      *ppv = static_cast<ICreateErrorInfo *>(this);
    else if (IsEqualIID(riid, IID_IErrorInfo))
      *ppv = static_cast<IErrorInfo *>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
      *ppv = static_cast<ISupportErrorInfo *>(this);
    else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
    std::lock_guard<std::mutex> guard(lock_);
    guid_ = rguid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) override { return store(source_, szSource); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) override {
    return store(description_, szDescription);
  }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) override { return store(helpFile_, szHelpFile); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) override {
    std::lock_guard<std::mutex> guard(lock_);
    helpContext_ = dwHelpContext;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetGUID(GUID *pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR *pBstrSource) override { return load(source_, pBstrSource); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR *pBstrDescription) override {
    return load(description_, pBstrDescription);
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *pBstrHelpFile) override { return load(helpFile_, pBstrHelpFile); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *pdwHelpContext) override {
    if (pdwHelpContext == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    *pdwHelpContext = helpContext_;
    return S_OK;
  }

  // The error information describes errors of the interface it names.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    std::lock_guard<std::mutex> guard(lock_);
    return IsEqualIID(riid, guid_) ? S_OK : S_FALSE;
  }

 private:
  HRESULT store(BSTR &field, LPCOLESTR text) {
    BSTR copy = SysAllocString(text);
    if (text != nullptr && copy == nullptr) return E_OUTOFMEMORY;
    std::lock_guard<std::mutex> guard(lock_);
    SysFreeString(field);
    field = copy;
    return S_OK;
  }

  HRESULT load(BSTR field, BSTR *out) {
    if (out == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    *out = field == nullptr ? nullptr : SysAllocStringLen(field, SysStringLen(field));
    return field != nullptr && *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  std::atomic<ULONG> references_{1};
  std::mutex lock_;
  GUID guid_ = GUID_NULL;
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR helpFile_ = nullptr;
  DWORD helpContext_ = 0;
};

// The thread's error information; released when the thread ends.
struct ErrorInfoSlot {
  IErrorInfo *info = nullptr;
  ~ErrorInfoSlot() {
    if (info != nullptr) info->Release();
  }
};

ErrorInfoSlot &threadSlot() {
  thread_local ErrorInfoSlot slot;
  return slot;
}

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo **pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  auto *info = new (std::nothrow) ErrorInfo;
  *pperrinfo = info;
  return info == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo != nullptr) perrinfo->AddRef();
  IErrorInfo *previous = threadSlot().info;
  threadSlot().info = perrinfo;
  if (previous != nullptr) previous->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo) {
  if (dwReserved != 0 || pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = threadSlot().info;
  threadSlot().info = nullptr;
  return *pperrinfo != nullptr ? S_OK : S_FALSE;
}
