// Starting programs the Windows way: command-line splitting by the rules of
// CommandLineToArgvW and the search for the program a command names.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform::kernel {

// The environment variable that names the folder of the platform's tools
// (regsvr32, reg, lodctr, unlodctr); by default the folder of the platform
// library.
inline constexpr const char *ToolsVariable = "WINPLATFORM_TOOLS";

// Splits a command line as CommandLineToArgvW does: the program name ends at
// the first blank or tab, or when it starts with a quote at the next quote;
// in the arguments 2n backslashes before a quote give n backslashes and the
// quote toggles quoting, 2n+1 give n and a literal quote, other backslashes
// are literal, and a doubled quote inside quotes is one literal quote that
// also ends the quoting.
std::vector<std::basic_string<WCHAR>> splitCommandLine(const std::basic_string<WCHAR> &commandLine);

// The POSIX folder of the platform's tools.
std::string toolsFolder();

// The program file that `name` (UTF-8, as written in a command) names. A
// name with a folder is taken as it is; a bare one is looked for in the
// tools folder, then in the main program's folder, then in the folders of
// PATH. A ".exe" suffix (in any case) may be there or not: "lodctr.exe"
// finds the POSIX program "lodctr"; the name itself is compared with its
// case, as POSIX file names are. ERROR_FILE_NOT_FOUND when there is none,
// ERROR_ACCESS_DENIED for a program we may not run, ERROR_BAD_FORMAT for a
// file that is no program.
DWORD findProgram(const std::string &name, std::string *path);

}  // namespace platform::kernel
