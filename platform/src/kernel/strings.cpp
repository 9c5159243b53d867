// Case mapping (CharUpper/CharLower) and the lstr* string functions.
#include <windows.h>

#include <string>

#include "kernel/codepage.h"
#include "kernel/text_tables.h"

namespace platform::kernel {
namespace {

// A pointer argument whose high word is zero carries one character.
bool IsSingleCharacter(const void *p) { return (reinterpret_cast<ULONG_PTR>(p) >> 16) == 0; }

// Changes the case of a system code page byte through its UTF-16 character;
// a result that the code page cannot hold leaves the byte as it was.
unsigned char MapAnsiCase(unsigned char byte, WCHAR (*map)(WCHAR)) {
  int mapped = WideToCp1252(map(Cp1252ToWide(byte)), false);
  return mapped < 0 ? byte : static_cast<unsigned char>(mapped);
}

DWORD MapAnsiBuffer(LPSTR text, DWORD length, WCHAR (*map)(WCHAR)) {
  if (!text) return 0;
  for (DWORD i = 0; i < length; ++i) text[i] = static_cast<char>(MapAnsiCase(static_cast<unsigned char>(text[i]), map));
  return length;
}

DWORD MapWideBuffer(LPWSTR text, DWORD length, WCHAR (*map)(WCHAR)) {
  if (!text) return 0;
  for (DWORD i = 0; i < length; ++i) text[i] = map(text[i]);
  return length;
}

LPSTR MapAnsiString(LPSTR text, WCHAR (*map)(WCHAR)) {
  if (IsSingleCharacter(text)) {
    auto byte = static_cast<unsigned char>(reinterpret_cast<ULONG_PTR>(text));
    return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(MapAnsiCase(byte, map)));
  }
  MapAnsiBuffer(text, static_cast<DWORD>(lstrlenA(text)), map);
  return text;
}

LPWSTR MapWideString(LPWSTR text, WCHAR (*map)(WCHAR)) {
  if (IsSingleCharacter(text)) {
    auto c = static_cast<WCHAR>(reinterpret_cast<ULONG_PTR>(text));
    return reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(map(c)));
  }
  MapWideBuffer(text, static_cast<DWORD>(lstrlenW(text)), map);
  return text;
}

// Comparison in the manner of Windows' word sort: letters compare by their
// base letter first (case and accents ignored), then by accents, then by
// case, lower before upper; symbols sort before digits and digits before
// letters; hyphens and apostrophes are ignored unless everything else is
// equal.
struct SortWeights {
  int primary;
  int accent;
  int upper;
};

// Base letters of Latin-1 0xE0-0xFE (lower case); 0 marks a non-letter.
constexpr char latin1_base[] = "aaaaaaaceeeeiiiidnooooo\0ouuuuyty";

bool IsIgnorable(WCHAR c) { return c == u'-' || c == u'\'' || c == 0x00AD; }

SortWeights WeighCharacter(WCHAR c) {
  WCHAR lower = ToLowerWide(c);
  int upper = lower != c ? 1 : 0;
  char base = 0;
  if (lower >= u'a' && lower <= u'z') {
    base = static_cast<char>(lower);
  } else if (lower >= 0xE0 && lower <= 0xFF) {
    base = lower == 0xFF ? 'y' : latin1_base[lower - 0xE0];
  } else if (lower > 0xFF) {
    int fitted = WideToCp1252(lower, true);
    if (fitted >= 0) {
      WCHAR fitted_lower = ToLowerWide(Cp1252ToWide(static_cast<unsigned char>(fitted)));
      if (fitted_lower >= u'a' && fitted_lower <= u'z') base = static_cast<char>(fitted_lower);
      if (fitted_lower >= 0xE0 && fitted_lower <= 0xFE) base = latin1_base[fitted_lower - 0xE0];
    }
  }
  if (base) return {0x20000 + base, lower == base ? 0 : lower, upper};
  if (c >= u'0' && c <= u'9') return {0x10000 + c, 0, 0};
  return {c, 0, 0};
}

int Sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

int CompareWords(const WCHAR *a, const WCHAR *b, bool ignore_case) {
  if (!a || !b) return a == b ? 0 : a ? 1 : -1;
  int accent_order = 0, case_order = 0;
  const WCHAR *p = a, *q = b;
  for (;;) {
    while (*p && IsIgnorable(*p)) ++p;
    while (*q && IsIgnorable(*q)) ++q;
    if (!*p || !*q) break;
    SortWeights x = WeighCharacter(*p++), y = WeighCharacter(*q++);
    if (x.primary != y.primary) return Sign(x.primary - y.primary);
    if (!accent_order) accent_order = Sign(x.accent - y.accent);
    if (!case_order && !ignore_case) case_order = Sign(x.upper - y.upper);
  }
  if (*p || *q) return *p ? 1 : -1;
  if (accent_order) return accent_order;
  if (case_order) return case_order;
  // Only the ignored characters are left to tell the two apart: the text
  // that has one where the other has none is the greater.
  for (p = a, q = b; *p || *q;) {
    bool p_ignored = *p && IsIgnorable(*p), q_ignored = *q && IsIgnorable(*q);
    if (p_ignored != q_ignored) return p_ignored ? 1 : -1;
    if (p_ignored && *p != *q) return Sign(*p - *q);
    ++p;
    ++q;
  }
  return 0;
}

int CompareAnsi(LPCSTR a, LPCSTR b, bool ignore_case) {
  if (!a || !b) return a == b ? 0 : a ? 1 : -1;
  std::basic_string<WCHAR> wide_a = AnsiToWide(a, static_cast<size_t>(lstrlenA(a)));
  std::basic_string<WCHAR> wide_b = AnsiToWide(b, static_cast<size_t>(lstrlenA(b)));
  return CompareWords(wide_a.c_str(), wide_b.c_str(), ignore_case);
}

template <typename Char> Char *CopyLimited(Char *target, const Char *source, int max_length) {
  if (!target || max_length <= 0) return target;
  int i = 0;
  if (source)
    for (; i < max_length - 1 && source[i]; ++i) target[i] = source[i];
  target[i] = 0;
  return target;
}

}  // namespace
}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" {

LPSTR WINAPI CharUpperA(LPSTR lpsz) { return MapAnsiString(lpsz, ToUpperWide); }
LPSTR WINAPI CharLowerA(LPSTR lpsz) { return MapAnsiString(lpsz, ToLowerWide); }
LPWSTR WINAPI CharUpperW(LPWSTR lpsz) { return MapWideString(lpsz, ToUpperWide); }
LPWSTR WINAPI CharLowerW(LPWSTR lpsz) { return MapWideString(lpsz, ToLowerWide); }
DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) { return MapAnsiBuffer(lpsz, cchLength, ToUpperWide); }
DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength) { return MapAnsiBuffer(lpsz, cchLength, ToLowerWide); }
DWORD WINAPI CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) { return MapWideBuffer(lpsz, cchLength, ToUpperWide); }
DWORD WINAPI CharLowerBuffW(LPWSTR lpsz, DWORD cchLength) { return MapWideBuffer(lpsz, cchLength, ToLowerWide); }

LPSTR WINAPI CharNextA(LPCSTR lpsz) { return const_cast<LPSTR>(*lpsz != 0 ? lpsz + 1 : lpsz); }

int WINAPI lstrlenA(LPCSTR lpString) {
  if (!lpString) return 0;
  int length = 0;
  while (lpString[length]) ++length;
  return length;
}

int WINAPI lstrlenW(LPCWSTR lpString) {
  if (!lpString) return 0;
  return static_cast<int>(std::char_traits<WCHAR>::length(lpString));
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) { return CompareAnsi(lpString1, lpString2, false); }
int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) { return CompareAnsi(lpString1, lpString2, true); }
int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2) { return CompareWords(lpString1, lpString2, false); }
int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) { return CompareWords(lpString1, lpString2, true); }

LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength) {
  return CopyLimited(lpString1, lpString2, iMaxLength);
}

LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  return CopyLimited(lpString1, lpString2, iMaxLength);
}

}  // extern "C"
