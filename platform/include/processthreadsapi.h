// Starting a program and following it to its end: CreateProcess, the
// process handle it gives (WaitForSingleObject, GetExitCodeProcess,
// CloseHandle) and the program's exit code.
#pragma once

#include <winnt.h>
#include <minwinbase.h>

#ifdef __cplusplus
extern "C" {
#endif

// What GetExitCodeProcess answers while the program runs.
#define STILL_ACTIVE ((DWORD)0x00000103)

// STARTUPINFO.dwFlags: wShowWindow holds the show mode (SW_HIDE, ...).
#define STARTF_USESHOWWINDOW 0x00000001

// Creation flags that ask for a console or a window, or for none. Programs
// started by the platform have neither, so every creation flag is accepted
// and has no effect; the ones that would change how the program runs
// (suspended, debugged) are not offered.
#define DETACHED_PROCESS 0x00000008
#define CREATE_NEW_CONSOLE 0x00000010
#define CREATE_NO_WINDOW 0x08000000

// How a program starts. Only cb, dwFlags and wShowWindow are read, and the
// show mode has no effect since the program has no window. The desktop,
// title, position, size, console and fill fields are ignored, and so are the
// standard handles: the program shares the caller's standard input, output
// and error.
typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

// What CreateProcess hands back. hProcess can be waited for and asked for
// the exit code. hThread stands for the program's main thread but only
// CloseHandle accepts it; it must still be closed. dwThreadId is the main
// thread's id, which on POSIX is the process id itself.
typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a program and returns at once; no shell is involved.
//
// With lpApplicationName null, the program is the first word of the command
// line, found as WinExec finds it: in the platform's tools folder, then the
// main program's folder, then on PATH, a ".exe" suffix being optional. A
// given lpApplicationName is the program's path (relative to the current
// folder, ".exe" optional as well), never searched for; the command line, or
// the name itself when the command line is null, gives the program its
// arguments. Arguments are
// split by the rules of CommandLineToArgvW; the command line (system code
// page for the A form) is not written to.
//
// lpCurrentDirectory is the program's current folder (null: the caller's).
// The program inherits the caller's environment: a non-null lpEnvironment is
// refused with ERROR_INVALID_PARAMETER. No handle of the caller is passed
// on, whatever bInheritHandles says, and the security attributes are
// ignored. lpStartupInfo and lpProcessInformation must not be null, nor both
// the application name and the command line (ERROR_INVALID_PARAMETER).
//
// Failure returns FALSE and sets the last error as Windows does:
// ERROR_FILE_NOT_FOUND for a missing program (also a missing folder, a
// folder, an empty command line), ERROR_ACCESS_DENIED for a program we may
// not run, ERROR_BAD_EXE_FORMAT for a file that is no program, ERROR_DIRECTORY
// for a current folder that is not one, ERROR_NOT_ENOUGH_MEMORY when the
// system has no resources left.
//
// However its handles are used, the program is reaped when it ends: it never
// lingers as a zombie, even when every handle is closed at once.
BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);

// The program's exit code, or STILL_ACTIVE while it runs; ERROR_INVALID_HANDLE
// for anything but a process handle. A POSIX program's exit status has 8
// bits, so a code above 255 arrives cut to its low byte. A program ended by a
// signal reports what Windows reports for the like: 3 for an abort (as the C
// runtime's abort gives), 0xC0000005 (access violation) for a bad memory
// access, 0xC000001D for an illegal instruction, 0xC0000094 for an
// arithmetic fault, and 1 for a program killed from outside (as Task
// Manager's end task gives). When the host has chosen to ignore its children's ends (SIGCHLD set
// to be ignored), the end is still seen but the code reads 0.
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);

#define CreateProcess CreateProcessW
typedef STARTUPINFOW STARTUPINFO;
typedef LPSTARTUPINFOW LPSTARTUPINFO;

#ifdef __cplusplus
}
#endif
