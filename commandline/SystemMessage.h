// The system's text for an error code, as the programs show failures.
#pragma once

#include <windows.h>

#include <string>

namespace commandline {

// The system's text for a code alone, without its line end, as the system
// tools show it: "Access denied."; where the system has none, the code as
// systemReason gives it.
std::string systemText(DWORD code);

// "error 5: Access denied." for a system error code, "error 0x80070570: File
// or directory corrupt." for a result code: the system's text, or "no text
// for this code" where the system has none.
std::string systemReason(DWORD code);

}  // namespace commandline
