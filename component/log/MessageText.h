// Texts for result codes and system errors, with the component's fallbacks
// for codes the system has no text for.
#pragma once
#include <windows.h>

#include <string>

namespace rv {

// The system's text for a result code, line breaks and control characters
// turned into blanks; for Windows Sockets codes without a text their
// constant's name; otherwise "Unknown message ...". When `moduleName` names a
// loaded module, its message table is searched as well.
std::string resultCodeText(HRESULT hr, const char *moduleName = nullptr);

// The Windows Sockets constant's name for a code from 10000 to 11999, or
// "WINSOCK error %d".
std::string socketErrorText(int code);

// "System error [ 0x%08X, %s ]" for a system error code.
std::string systemErrorText(DWORD code);

}  // namespace rv
