// Loading modules and reading their resources.
#pragma once
#include <winnt.h>

#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

#define RT_STRING MAKEINTRESOURCE(6)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_VERSION MAKEINTRESOURCE(16)

typedef INT_PTR (*FARPROC)(void);

EXTERN_C HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
EXTERN_C HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
EXTERN_C BOOL WINAPI FreeLibrary(HMODULE hLibModule);
EXTERN_C FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

EXTERN_C HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
EXTERN_C HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage);
EXTERN_C HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
EXTERN_C LPVOID WINAPI LockResource(HGLOBAL hResData);
EXTERN_C DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
EXTERN_C int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax);
#define FindResource FindResourceW
#define LoadLibrary LoadLibraryW
#define LoadString LoadStringW
