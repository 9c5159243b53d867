// UTF-16 text to and from UTF-8, the programs' text on the console and on
// their command lines, through the system's own conversions.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace commandline {

std::string toUtf8(std::basic_string_view<WCHAR> text);
std::basic_string<WCHAR> fromUtf8(std::string_view text);
// 8-bit text in a code page (CP_ACP: the system's, as files of the system
// tools are written in).
std::basic_string<WCHAR> fromCodePage(UINT codePage, std::string_view text);

}  // namespace commandline
