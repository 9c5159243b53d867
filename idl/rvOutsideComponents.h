// The components of the same product that the component calls besides the
// system's: the error log, the trace settings, the branding and the viewer.
// They are not part of this module; their identities, the order of their
// members in the method table and their argument orders are fixed by the
// components themselves. Declared here once, with every member named, for
// everyone who calls or implements them: the component, the companion module
// (our implementations) and the test doubles. Not installed: a host never
// calls them.
#pragma once
#include <windows.h>
#include <oleauto.h>

namespace rv {

// The error log component.
inline constexpr CLSID CLSID_ErrorLog = {0x55C92E59, 0x9FAD, 0x4632, {0x99, 0x6C, 0x30, 0x71, 0x96, 0x44, 0x52, 0x8B}};
inline constexpr IID IID_IErrorLog = {0x7E59E7F3, 0x778D, 0x42D9, {0xBD, 0xC0, 0xE5, 0x7B, 0xEC, 0x0D, 0xDE, 0x0D}};

struct IErrorLog : public IDispatch {
  // One record. The flags are 1 for true and 0 for false: `setErrorInfo`
  // asks for the record to be left as the thread's error information,
  // `raised` tells whether the caller goes on to raise it.
  virtual HRESULT STDMETHODCALLTYPE LogError(BSTR source, LONG hr, BSTR description, LONG line, BSTR component,
                                             BSTR version, BSTR module, BSTR file, BSTR procedure, SHORT setErrorInfo,
                                             SHORT raised) = 0;
};

// The trace settings component.
inline constexpr CLSID CLSID_TraceSettings = {
    0x4816F656, 0x2AF1, 0x4A5C, {0x9E, 0x49, 0xB5, 0x64, 0x29, 0x65, 0x72, 0x41}};
inline constexpr IID IID_ITraceSettings = {
    0xF5480F4E, 0x0965, 0x4A0D, {0xBE, 0x00, 0xB5, 0x8B, 0xF2, 0x50, 0x3E, 0x04}};

struct ITraceSettings : public IDispatch {
  // Whether a record of `level` is to be shown in the viewer; `kind` is
  // what the caller traces (1, a log record) and is not looked at.
  virtual HRESULT STDMETHODCALLTYPE TraceRecord(BSTR description, LONG kind, LONG level, VARIANT_BOOL *show) = 0;
  // Where the records that follow come from.
  virtual HRESULT STDMETHODCALLTYPE SetComponentName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetModuleName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFileName(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcedureName(BSTR name) = 0;
  // The level and the viewer switch of the component named, in pairs of
  // store and read; a store writes the registry for every later reader.
  // The component only reads them.
  virtual HRESULT STDMETHODCALLTYPE SetTraceLevel(LONG level) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTraceLevel(LONG *level) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetViewerSwitch(VARIANT_BOOL on) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetViewerSwitch(VARIANT_BOOL *on) = 0;
};

// The branding component, deDaravodi::FolderBranding: it names the folder in
// which the product's resource files are looked for.
inline constexpr CLSID CLSID_FolderBranding = {
    0x458A006B, 0xB615, 0x4542, {0xB0, 0xCE, 0xB5, 0x13, 0xE1, 0xF0, 0x0C, 0x70}};
inline constexpr IID IID_IFolderBranding = {
    0xA7092117, 0xBCCF, 0x46CD, {0xB5, 0xA1, 0x0A, 0x09, 0xE7, 0x52, 0x21, 0xAC}};

struct IFolderBranding : public IDispatch {
  // Stores the folder in the registry for every later reader; an empty or
  // null folder removes the setting, so the default applies again. The
  // component only reads it.
  virtual HRESULT STDMETHODCALLTYPE SetFolder(BSTR folder) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFolder(BSTR *folder) = 0;
};

// The viewer, reached by ProgID and called by member name.
inline constexpr const OLECHAR *ViewerProgId = OLESTR("TraceConsole_83.ViewerHelper");
inline constexpr const OLECHAR *ViewerMember = OLESTR("LogMessage");

}  // namespace rv
