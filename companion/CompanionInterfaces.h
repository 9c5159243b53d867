// The interfaces of the error log, trace settings and branding components
// as this module implements them. Their identities and the positions of the
// members the component calls are the component's (log/OutsideComponents.h);
// the members it leaves alone are given their meaning here.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "log/OutsideComponents.h"

namespace rv::companion {

struct IErrorLog : public IDispatch {
  // One record. The flags are 1 for true and 0 for false: `setErrorInfo`
  // asks for the record to be left as the thread's error information,
  // `raised` tells whether the caller goes on to raise it.
  virtual HRESULT STDMETHODCALLTYPE LogError(BSTR source, LONG hr, BSTR description, LONG line, BSTR component,
                                             BSTR version, BSTR module, BSTR file, BSTR procedure,
                                             SHORT setErrorInfo, SHORT raised) = 0;
};

struct ITraceSettings : public IDispatch {
  // Whether a record of `level` is to be shown in the viewer; `kind` is
  // what the caller traces (1, a log record) and is not looked at.
  virtual HRESULT STDMETHODCALLTYPE TraceRecord(BSTR description, LONG kind, LONG level, VARIANT_BOOL *show) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetComponentName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetModuleName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFileName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcedureName(BSTR name) = 0;
  // The level and the viewer switch of the component named, in pairs of
  // store and read; a store writes the registry for every later reader.
  virtual HRESULT STDMETHODCALLTYPE SetTraceLevel(LONG level) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTraceLevel(LONG *level) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetViewerSwitch(VARIANT_BOOL on) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetViewerSwitch(VARIANT_BOOL *on) = 0;
};

struct IFolderBranding : public IDispatch {
  // Stores the folder in the registry for every later reader; an empty or
  // null folder removes the setting, so the default applies again.
  virtual HRESULT STDMETHODCALLTYPE SetFolder(BSTR folder) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFolder(BSTR *folder) = 0;
};

}  // namespace rv::companion
