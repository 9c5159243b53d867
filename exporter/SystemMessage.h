// The system's text for an error code, as the exporter shows failures.
#pragma once

#include <windows.h>

#include <string>

namespace exporter {

// "error 5: Access is denied." (the text without its line end; "no text for
// this code" where the system has none).
std::string systemReason(DWORD code);

}  // namespace exporter
