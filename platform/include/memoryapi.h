// Sections (file mapping objects) backed by the paging file, named or not,
// and views of them.
//
// A named section is shared with every process that uses the platform with
// the same root folder. Names are compared case-sensitively, as Windows does;
// "Global\" and "Local\" (spelt so) choose the namespace, no prefix means
// "Local\", and there is no other backslash in a name, nor more than 32767
// characters (ERROR_FILENAME_EXCED_RANGE). The name exists while a process
// holds a handle to the section; when the last handle goes, by CloseHandle or
// because its process ended however it ended, the name goes with it. Views
// stay usable after the handles are closed, but hold no name: a later
// CreateFileMapping of the name makes a new, zero-filled section.
//
// Not offered: sections of a file (hFile other than INVALID_HANDLE_VALUE or
// NULL fails with ERROR_INVALID_PARAMETER), security descriptors, handle
// inheritance, and names in the "Session\" namespace.
#pragma once

#include <minwinbase.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FILE_MAP_COPY 0x1
#define FILE_MAP_WRITE SECTION_MAP_WRITE
#define FILE_MAP_READ SECTION_MAP_READ
#define FILE_MAP_ALL_ACCESS SECTION_ALL_ACCESS
#define FILE_MAP_EXECUTE SECTION_MAP_EXECUTE_EXPLICIT

// A new section of the given size (both parts 0 fails with
// ERROR_INVALID_PARAMETER), or the existing one of that name, whatever its
// size and protection, with ERROR_ALREADY_EXISTS as the last error. The handle
// may map views as flProtect allows.
HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);
HANDLE WINAPI OpenFileMappingW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);

// Maps dwNumberOfBytesToMap bytes (0: up to the end of the section) from an
// offset that is a multiple of 64 KiB. FILE_MAP_WRITE views are shared and
// writable, FILE_MAP_READ views shared and read-only, FILE_MAP_COPY views
// private copies.
LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
// Any address inside a view unmaps it; any other fails with
// ERROR_INVALID_ADDRESS.
BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress);
// Views of a paging-file section need no writing back; the call checks that
// the range lies in one view (0 bytes: to its end).
BOOL WINAPI FlushViewOfFile(LPCVOID lpBaseAddress, SIZE_T dwNumberOfBytesToFlush);

#define CreateFileMapping CreateFileMappingW
#define OpenFileMapping OpenFileMappingW

#ifdef __cplusplus
}
#endif
