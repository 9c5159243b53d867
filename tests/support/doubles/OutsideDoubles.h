// Test doubles of the outside components the component calls: the error log
// component, the trace settings component, the viewer and the branding
// component. They live in a module of their own that a test registers in the
// registry, so that class activation reaches them from any thread and
// apartment; every call is recorded in plain records that the test reads
// through the module's exports.
#pragma once
#include <windows.h>

// The viewer's class, registered under the ProgID "TraceConsole_83.ViewerHelper".
// {6D1C3E52-8A77-4F0B-9E21-5B0C4D7A9F13}
inline constexpr CLSID CLSID_ViewerDouble = {
    0x6D1C3E52, 0x8A77, 0x4F0B, {0x9E, 0x21, 0x5B, 0x0C, 0x4D, 0x7A, 0x9F, 0x13}};

struct LogErrorCall {
  WCHAR source[512];
  LONG hr;
  WCHAR description[512];
  LONG line;
  WCHAR component[64];
  WCHAR version[32];
  WCHAR module[64];
  WCHAR file[128];
  WCHAR procedure[128];
  SHORT setErrorInfo;
  SHORT raised;
};

struct TraceCall {
  WCHAR description[512];
  LONG level;
  WCHAR file[128];
  WCHAR procedure[128];
};

struct ViewerCall {
  UINT argumentCount;
  WCHAR message[512];
  VARTYPE levelType;
  LONG level;
};

struct DoublesSettings {
  BOOL errorLogAvailable;  // creation of the error log component succeeds
  BOOL traceAvailable;     // creation of the trace settings component succeeds
  LONG traceLevel;         // what the trace level member answers
  VARIANT_BOOL viewerSwitch;
  VARIANT_BOOL show;           // what traceRecord answers for "show in viewer"
  WCHAR errorInfoSource[128];  // when not empty, LogError leaves error information with this source
  BOOL brandingAvailable;      // creation of the branding component succeeds
  WCHAR brandingFolder[260];   // the folder the branding component names
};

struct DoublesCounts {
  LONG errorLogCreations;  // successful or not
  LONG traceCreations;
  LONG traceLevelReads;
  LONG viewerCreations;
  LONG brandingCreations;
};

extern "C" {
typedef void(WINAPI *DoublesResetFn)(const DoublesSettings *settings);
typedef LONG(WINAPI *DoublesLogErrorCallsFn)(LogErrorCall *calls, LONG max);
typedef LONG(WINAPI *DoublesTraceCallsFn)(TraceCall *calls, LONG max);
typedef LONG(WINAPI *DoublesViewerCallsFn)(ViewerCall *calls, LONG max);
typedef void(WINAPI *DoublesCountsFn)(DoublesCounts *counts);
}
