// UTF-16 text to and from UTF-8, through the system's own conversions.
#pragma once

#include <windows.h>

#include <string>

namespace perfdata {

std::string toUtf8(const std::basic_string<WCHAR> &text);
std::basic_string<WCHAR> fromUtf8(const std::string &text);

}  // namespace perfdata
