// UTF-16 text held as a string. WCHAR (and OLECHAR, the same type) is
// wchar_t on Windows and char16_t over the platform, so std::wstring, whose
// units are 32 bits on POSIX, would not serve both targets.
#pragma once
#include <windows.h>

#include <string>

namespace rv {

using Text = std::basic_string<WCHAR>;

}  // namespace rv
