// Starting programs the Windows way: command-line splitting by the rules of
// CommandLineToArgvW, the search for the program a command names, and the one
// launch path of WinExec and CreateProcess.
#pragma once

#include <windows.h>

#include <sys/types.h>

#include <future>
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
// ERROR_ACCESS_DENIED for a program we may not run, ERROR_BAD_EXE_FORMAT for
// a file that is no program.
DWORD findProgram(const std::string &name, std::string *path);

// Starts a program as CreateProcessW does (see its declaration for the
// rules); `application` and `folder` may be null, `commandLine` may be null
// when `application` is not. The program gets a thread of its own that waits
// for its end, so that it is reaped whether or not anyone still follows it,
// and that hands its exit code (in the form GetExitCodeProcess gives) to
// `exitCode`. Returns ERROR_SUCCESS and the program's process id, or the
// error that CreateProcess sets; then `exitCode` is dropped unset.
DWORD startProgram(const WCHAR *application, const WCHAR *commandLine, const WCHAR *folder,
                   std::promise<DWORD> exitCode, pid_t *id);

}  // namespace platform::kernel
