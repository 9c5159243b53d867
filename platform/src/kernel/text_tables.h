// Character data shared by the code page, case and comparison functions.
#pragma once

#include <windows.h>

namespace platform::kernel {

struct CaseRun {
  WCHAR first;
  WCHAR last;
  int stride;
  int delta;
};

// The character a Windows-1252 byte stands for.
WCHAR Cp1252ToWide(unsigned char byte);
// The Windows-1252 byte for c, or -1 when the code page cannot represent it;
// with best_fit a similar character is accepted where Windows accepts one.
int WideToCp1252(WCHAR c, bool best_fit);
// Windows' simple case mapping of one UTF-16 unit (CharUpperW/CharLowerW).
WCHAR ToUpperWide(WCHAR c);
WCHAR ToLowerWide(WCHAR c);

}  // namespace platform::kernel
