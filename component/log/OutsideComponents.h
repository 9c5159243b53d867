// Components of the same product that the log operation calls. They are not
// part of this module: only their identities, the positions of the members
// used and their argument orders are fixed, so they are declared here by
// method-table position.
#pragma once
#include <windows.h>
#include <oleauto.h>

namespace rv {

// The error log component.
extern const CLSID CLSID_ErrorLog;   // {55C92E59-9FAD-4632-996C-30719644528B}
extern const IID IID_IErrorLog;      // {7E59E7F3-778D-42D9-BDC0-E57BEC0DDE0D}

struct IErrorLog : public IDispatch {
  // The two flags are 1 for true and 0 for false.
  virtual HRESULT STDMETHODCALLTYPE LogError(BSTR source, LONG hr, BSTR description, LONG line, BSTR component,
                                             BSTR version, BSTR module, BSTR file, BSTR procedure,
                                             SHORT setErrorInfo, SHORT raised) = 0;
};

// The trace settings component.
extern const CLSID CLSID_TraceSettings;  // {4816F656-2AF1-4A5C-9E49-B56429657241}
extern const IID IID_ITraceSettings;     // {F5480F4E-0965-4A0D-BE00-B58BF2503E04}

struct ITraceSettings : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE TraceRecord(BSTR description, LONG one, LONG level, VARIANT_BOOL *show) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetComponentName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetModuleName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFileName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcedureName(BSTR name) = 0;
  // Slots 13 and 15 belong to the component and are never called from here.
  virtual HRESULT STDMETHODCALLTYPE Slot13() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTraceLevel(LONG *level) = 0;
  virtual HRESULT STDMETHODCALLTYPE Slot15() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetViewerSwitch(VARIANT_BOOL *on) = 0;
};

// The viewer, reached by ProgID and called by member name.
inline constexpr const OLECHAR *ViewerProgId = OLESTR("TraceConsole_83.ViewerHelper");
inline constexpr const OLECHAR *ViewerMember = OLESTR("LogMessage");

}  // namespace rv
