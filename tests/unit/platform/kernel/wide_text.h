// Wide literals and strings for tests that build on both targets: WCHAR is
// wchar_t with mingw-w64 and char16_t over the platform layer.
#pragma once

#include <windows.h>

#include <string>

#ifdef _WIN32
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
#endif

using WideString = std::basic_string<WCHAR>;

// Under Wine the tests run against Windows' own kernel32 and user32; natively
// against the platform layer, which must give the same answers.
#ifdef _WIN32
constexpr bool kPlatformLayer = false;
#else
constexpr bool kPlatformLayer = true;
#endif
