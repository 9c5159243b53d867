#include "OutsideDoubles.h"

#include <objbase.h>
#include <oleauto.h>

#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "rvOutsideComponents.h"
#include "rvText.h"

namespace {

std::mutex lock;
DoublesSettings settings = {};
DoublesCounts counts = {};
std::vector<LogErrorCall> logErrorCalls;
std::vector<TraceCall> traceCalls;
std::vector<ViewerCall> viewerCalls;

template <size_t N> void copy(WCHAR (&target)[N], const OLECHAR *text) {
  size_t i = 0;
  for (; text != nullptr && text[i] != 0 && i + 1 < N; ++i) target[i] = text[i];
  target[i] = 0;
}

template <typename T> LONG hand(const std::vector<T> &records, T *out, LONG max) {
  std::lock_guard<std::mutex> guard(lock);
  for (LONG i = 0; i < max && i < static_cast<LONG>(records.size()); ++i) out[i] = records[i];
  return static_cast<LONG>(records.size());
}

// What all the doubles share: reference counting and a dispatch that
// knows no names unless the double says otherwise.
template <typename I> class Double : public I {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  virtual ~Double() = default;
  HRESULT answer(REFIID riid, REFIID own, void **object) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, own)) {
      *object = static_cast<I *>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

 private:
  LONG references_ = 1;
};

class ErrorLogDouble final : public Double<rv::IErrorLog> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    return answer(riid, rv::IID_IErrorLog, object);
  }
  HRESULT STDMETHODCALLTYPE LogError(BSTR source, LONG hr, BSTR description, LONG line, BSTR component, BSTR version,
                                     BSTR module, BSTR file, BSTR procedure, SHORT setErrorInfo,
                                     SHORT raised) override {
    LogErrorCall call = {};
    copy(call.source, source);
    call.hr = hr;
    copy(call.description, description);
    call.line = line;
    copy(call.component, component);
    copy(call.version, version);
    copy(call.module, module);
    copy(call.file, file);
    copy(call.procedure, procedure);
    call.setErrorInfo = setErrorInfo;
    call.raised = raised;
    WCHAR errorSource[128];
    {
      std::lock_guard<std::mutex> guard(lock);
      logErrorCalls.push_back(call);
      copy(errorSource, settings.errorInfoSource);
    }
    if (errorSource[0] != 0) {
      ICreateErrorInfo *create = nullptr;
      if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetSource(errorSource);
        create->SetDescription(description);
        IErrorInfo *info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)))) {
          SetErrorInfo(0, info);
          info->Release();
        }
        create->Release();
      }
    }
    return S_OK;
  }
};

class TraceSettingsDouble final : public Double<rv::ITraceSettings> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    return answer(riid, rv::IID_ITraceSettings, object);
  }
  HRESULT STDMETHODCALLTYPE TraceRecord(BSTR description, LONG, LONG level, VARIANT_BOOL *show) override {
    TraceCall call = {};
    copy(call.description, description);
    call.level = level;
    copy(call.file, file_.c_str());
    copy(call.procedure, procedure_.c_str());
    std::lock_guard<std::mutex> guard(lock);
    traceCalls.push_back(call);
    if (show) *show = settings.show;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetComponentName(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetModuleName(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetFileName(BSTR name) override { return keep(file_, name); }
  HRESULT STDMETHODCALLTYPE SetProcedureName(BSTR name) override { return keep(procedure_, name); }
  HRESULT STDMETHODCALLTYPE SetTraceLevel(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTraceLevel(LONG *level) override {
    std::lock_guard<std::mutex> guard(lock);
    ++counts.traceLevelReads;
    *level = settings.traceLevel;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetViewerSwitch(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetViewerSwitch(VARIANT_BOOL *on) override {
    std::lock_guard<std::mutex> guard(lock);
    *on = settings.viewerSwitch;
    return S_OK;
  }

 private:
  using Text = rv::Text;
  static HRESULT keep(Text &field, BSTR value) {
    field = value ? Text(value) : Text();
    return S_OK;
  }
  Text file_, procedure_;
};

class ViewerDouble final : public Double<IDispatch> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    return answer(riid, IID_IDispatch, object);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override {
    const char expected[] = "LogMessage";
    for (size_t i = 0; i < sizeof expected; ++i)
      if (count != 1 || names[0][i] != static_cast<OLECHAR>(expected[i])) return DISP_E_UNKNOWNNAME;
    ids[0] = 7;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS *parameters, VARIANT *,
                                   EXCEPINFO *, UINT *) override {
    if (member != 7 || flags != DISPATCH_METHOD) return DISP_E_MEMBERNOTFOUND;
    ViewerCall call = {};
    call.argumentCount = parameters->cArgs;
    if (parameters->cArgs == 5) {
      VARIANTARG *a = parameters->rgvarg;  // in reverse order: procedure, module, component, level, message
      call.levelType = V_VT(&a[3]);
      if (V_VT(&a[3]) == (VT_I4 | VT_BYREF)) call.level = *V_I4REF(&a[3]);
      copy(call.message, V_VT(&a[4]) == VT_BSTR ? V_BSTR(&a[4]) : nullptr);
    }
    std::lock_guard<std::mutex> guard(lock);
    viewerCalls.push_back(call);
    return S_OK;
  }
};

class FolderBrandingDouble final : public Double<rv::IFolderBranding> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    return answer(riid, rv::IID_IFolderBranding, object);
  }
  HRESULT STDMETHODCALLTYPE SetFolder(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFolder(BSTR *folder) override {
    std::lock_guard<std::mutex> guard(lock);
    *folder = SysAllocString(settings.brandingFolder);
    return *folder != nullptr ? S_OK : E_OUTOFMEMORY;
  }
};

template <typename T> class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory *>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **object) override {
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (!available()) return E_FAIL;
    T *created = new T;
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  static bool available() {
    std::lock_guard<std::mutex> guard(lock);
    if constexpr (std::is_same_v<T, ErrorLogDouble>) {
      ++counts.errorLogCreations;
      return settings.errorLogAvailable;
    } else if constexpr (std::is_same_v<T, TraceSettingsDouble>) {
      ++counts.traceCreations;
      return settings.traceAvailable;
    } else if constexpr (std::is_same_v<T, FolderBrandingDouble>) {
      ++counts.brandingCreations;
      return settings.brandingAvailable;
    } else {
      ++counts.viewerCreations;
      return true;
    }
  }
};

Factory<ErrorLogDouble> errorLogFactory;
Factory<TraceSettingsDouble> traceFactory;
Factory<ViewerDouble> viewerFactory;
Factory<FolderBrandingDouble> brandingFactory;

}  // namespace

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **object) {
  if (IsEqualCLSID(clsid, rv::CLSID_ErrorLog)) return errorLogFactory.QueryInterface(riid, object);
  if (IsEqualCLSID(clsid, rv::CLSID_TraceSettings)) return traceFactory.QueryInterface(riid, object);
  if (IsEqualCLSID(clsid, CLSID_ViewerDouble)) return viewerFactory.QueryInterface(riid, object);
  if (IsEqualCLSID(clsid, rv::CLSID_FolderBranding)) return brandingFactory.QueryInterface(riid, object);
  *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

// The records must outlive every test, so the module never asks to go.
HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

void WINAPI DoublesReset(const DoublesSettings *newSettings) {
  std::lock_guard<std::mutex> guard(lock);
  settings = *newSettings;
  counts = {};
  logErrorCalls.clear();
  traceCalls.clear();
  viewerCalls.clear();
}

LONG WINAPI DoublesLogErrorCalls(LogErrorCall *calls, LONG max) { return hand(logErrorCalls, calls, max); }

LONG WINAPI DoublesTraceCalls(TraceCall *calls, LONG max) { return hand(traceCalls, calls, max); }

LONG WINAPI DoublesViewerCalls(ViewerCall *calls, LONG max) { return hand(viewerCalls, calls, max); }

void WINAPI DoublesCounts(DoublesCounts *out) {
  std::lock_guard<std::mutex> guard(lock);
  *out = counts;
}
}
