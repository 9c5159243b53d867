// The text helpers of user32 that the platform layer offers: case mapping in
// the system code page and in UTF-16, and wsprintf.
#pragma once

#include <stdarg.h>
#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

// CharUpperA, CharLowerA, CharUpperW and CharLowerW take either a string,
// converted in place and returned, or a single character in the low word of
// the pointer value (high word zero), returned converted in the same form.
LPSTR WINAPI CharUpperA(LPSTR lpsz);
LPSTR WINAPI CharLowerA(LPSTR lpsz);
LPWSTR WINAPI CharUpperW(LPWSTR lpsz);
LPWSTR WINAPI CharLowerW(LPWSTR lpsz);
DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength);
DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength);
DWORD WINAPI CharUpperBuffW(LPWSTR lpsz, DWORD cchLength);
DWORD WINAPI CharLowerBuffW(LPWSTR lpsz, DWORD cchLength);

// The next character of a text in the system code page, or the terminator
// itself when the text is at its end. The system code page here has one byte
// per character.
LPSTR WINAPI CharNextA(LPCSTR lpsz);

// wsprintf writes at most 1024 units, the terminator included. In a wide
// format %s and %c take WCHAR text, %S, %hs and %hc 8-bit text; 'l' means
// 32 bits as in Windows, so %ld takes a LONG, never a POSIX long.
int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...);
int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...);
int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist);
int WINAPI wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist);

// Show modes of a program's main window (WinExec). Programs started by the
// platform have no window, so the mode has no effect there.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

#ifdef __cplusplus
}
#endif
