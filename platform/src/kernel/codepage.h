// Conversions between the system code page (Windows-1252) and UTF-16 for the
// platform's own 8-bit entry points (FormatMessageA, wsprintfA, CharUpperA,
// lstrcmpA, ...). They behave as MultiByteToWideChar and WideCharToMultiByte
// with CP_ACP and no flags.
#pragma once

#include <windows.h>

#include <string>

namespace platform::kernel {

std::basic_string<WCHAR> AnsiToWide(const char *text, size_t length);
std::string WideToAnsi(const WCHAR *text, size_t length);

}  // namespace platform::kernel
