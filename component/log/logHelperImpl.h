// The log operation: every error record goes to the error log component or,
// when that cannot be reached, to the fallback file; every log call is
// offered to the trace settings component and, when it says so, the viewer.
#pragma once
#include <windows.h>

#include <string>

namespace rv {

class Err;

// The name of the fallback log file in the temporary folder.
inline constexpr const OLECHAR *ErrorLogFileName = OLESTR("NorvaleErrorLog.csv");

// The record half and the trace half of Err::log, in that order.
void writeLogRecord(Err &e, bool setErrorInfo, bool raised);
void writeTraceRecord(const Err &e);

// Reads the process-wide trace settings from the trace settings component.
void readTraceSettings();
bool traceSettingsRead();
LONG traceLevel();

// "a.b.c.d" from a module file's version resource, "0.0.0.0" without one.
std::string moduleVersionText(const OLECHAR *modulePath);

}  // namespace rv
