// MultiByteToWideChar and WideCharToMultiByte for the system code page
// (Windows-1252, fixed) and UTF-8.
#include "kernel/codepage.h"

#include <string.h>

#include "kernel/text_tables.h"

namespace platform::kernel {
namespace {

constexpr UINT system_code_page = 1252;
constexpr WCHAR replacement_character = 0xFFFD;

enum class PageKind { Ansi, Utf8, Unknown };

PageKind Classify(UINT code_page) {
  switch (code_page) {
    case CP_ACP:
    case CP_THREAD_ACP:
    case system_code_page: return PageKind::Ansi;
    case CP_UTF8: return PageKind::Utf8;
    default: return PageKind::Unknown;
  }
}

// Counts what a conversion produces and, when there is a buffer, stores it;
// a full buffer is remembered rather than overrun.
template <typename Unit> class Output {
 public:
  Output(Unit *buffer, int capacity) : buffer_(buffer), capacity_(capacity) {}

  void Put(Unit unit) {
    if (buffer_) {
      if (count_ >= capacity_) {
        overflow_ = true;
        return;
      }
      buffer_[count_] = unit;
    }
    ++count_;
  }

  // The function's result: the number of units, or 0 with the last error.
  int Finish() const {
    if (overflow_) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    return count_;
  }

 private:
  Unit *buffer_;
  int capacity_;
  int count_ = 0;
  bool overflow_ = false;
};

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes UTF-8 the way Windows does. An invalid piece becomes one U+FFFD:
// a byte that cannot start a sequence; a lead byte with a second byte out of
// its range (overlong forms, surrogates, beyond U+10FFFF), the two together;
// a sequence cut short by the end or by a byte that cannot continue it, the
// bytes taken so far. Decoding resumes after the piece. With strict, the
// first invalid piece fails the whole conversion instead.
bool DecodeUtf8(const unsigned char *text, int length, bool strict, Output<WCHAR> &out) {
  int i = 0;
  while (i < length) {
    unsigned char lead = text[i];
    if (lead < 0x80) {
      out.Put(lead);
      ++i;
      continue;
    }
    int needed = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    uint32_t code = lead & (0x3F >> needed);
    int taken = 1;
    bool valid = needed > 0;
    while (valid && taken <= needed) {
      if (i + taken >= length || !IsContinuation(text[i + taken])) {
        valid = false;
        break;
      }
      unsigned char next = text[i + taken];
      code = (code << 6) | (next & 0x3F);
      ++taken;
      if (taken == 2 && (next < low || next > high)) valid = false;
    }
    if (!valid) {
      if (strict) return false;
      out.Put(replacement_character);
    } else if (code >= 0x10000) {
      code -= 0x10000;
      out.Put(static_cast<WCHAR>(0xD800 | (code >> 10)));
      out.Put(static_cast<WCHAR>(0xDC00 | (code & 0x3FF)));
    } else {
      out.Put(static_cast<WCHAR>(code));
    }
    i += taken;
  }
  return true;
}

void EncodeUtf8(uint32_t code, Output<char> &out) {
  if (code < 0x80) {
    out.Put(static_cast<char>(code));
  } else if (code < 0x800) {
    out.Put(static_cast<char>(0xC0 | (code >> 6)));
    out.Put(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.Put(static_cast<char>(0xE0 | (code >> 12)));
    out.Put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.Put(static_cast<char>(0xF0 | (code >> 18)));
    out.Put(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.Put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

bool IsHighSurrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool EncodeUtf8Text(const WCHAR *text, int length, bool fail_on_invalid, Output<char> &out) {
  for (int i = 0; i < length; ++i) {
    WCHAR c = text[i];
    if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      EncodeUtf8(0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      if (fail_on_invalid) return false;
      EncodeUtf8(replacement_character, out);
    } else {
      EncodeUtf8(c, out);
    }
  }
  return true;
}

int WideLength(const WCHAR *text) {
  int length = 0;
  while (text[length]) ++length;
  return length;
}

}  // namespace

std::basic_string<WCHAR> AnsiToWide(const char *text, size_t length) {
  std::basic_string<WCHAR> wide(length, WCHAR());
  for (size_t i = 0; i < length; ++i) wide[i] = Cp1252ToWide(static_cast<unsigned char>(text[i]));
  return wide;
}

std::string WideToAnsi(const WCHAR *text, size_t length) {
  std::string ansi(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    int byte = WideToCp1252(text[i], true);
    ansi[i] = static_cast<char>(byte < 0 ? '?' : byte);
  }
  return ansi;
}

}  // namespace platform::kernel

using namespace platform::kernel;

// Sets the last error and gives the 0 that a failed conversion returns.
static int failWith(DWORD error) {
  SetLastError(error);
  return 0;
}

extern "C" {

UINT WINAPI GetACP(void) { return system_code_page; }

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 || (!lpWideCharStr && cchWideChar) ||
      static_cast<const void *>(lpMultiByteStr) == static_cast<const void *>(lpWideCharStr))
    return failWith(ERROR_INVALID_PARAMETER);
  PageKind page = Classify(CodePage);
  if (page == PageKind::Unknown) return failWith(ERROR_INVALID_PARAMETER);
  // Composition and glyph characters are not offered; MB_PRECOMPOSED is what
  // the platform produces anyway.
  DWORD allowed = page == PageKind::Utf8 ? MB_ERR_INVALID_CHARS : MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
  if (dwFlags & ~allowed) return failWith(ERROR_INVALID_FLAGS);
  if (cbMultiByte < 0) cbMultiByte = static_cast<int>(strlen(lpMultiByteStr)) + 1;
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(lpMultiByteStr);
  Output<WCHAR> out(lpWideCharStr, cchWideChar);
  if (page == PageKind::Ansi) {
    for (int i = 0; i < cbMultiByte; ++i) out.Put(Cp1252ToWide(bytes[i]));
  } else if (!DecodeUtf8(bytes, cbMultiByte, (dwFlags & MB_ERR_INVALID_CHARS) != 0, out)) {
    return failWith(ERROR_NO_UNICODE_TRANSLATION);
  }
  return out.Finish();
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 || (!lpMultiByteStr && cbMultiByte) ||
      static_cast<const void *>(lpWideCharStr) == static_cast<const void *>(lpMultiByteStr))
    return failWith(ERROR_INVALID_PARAMETER);
  PageKind page = Classify(CodePage);
  if (page == PageKind::Unknown) return failWith(ERROR_INVALID_PARAMETER);
  if (cchWideChar < 0) cchWideChar = WideLength(lpWideCharStr) + 1;
  Output<char> out(lpMultiByteStr, cbMultiByte);
  if (page == PageKind::Utf8) {
    if (dwFlags & ~WC_ERR_INVALID_CHARS) return failWith(ERROR_INVALID_FLAGS);
    // UTF-8 has no default character, so asking for one is an error.
    if (lpDefaultChar || lpUsedDefaultChar) return failWith(ERROR_INVALID_PARAMETER);
    if (!EncodeUtf8Text(lpWideCharStr, cchWideChar, (dwFlags & WC_ERR_INVALID_CHARS) != 0, out))
      return failWith(ERROR_NO_UNICODE_TRANSLATION);
    return out.Finish();
  }
  if (dwFlags &
      ~(WC_NO_BEST_FIT_CHARS | WC_DEFAULTCHAR | WC_ERR_INVALID_CHARS | WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS))
    return failWith(ERROR_INVALID_FLAGS);
  const char default_char = lpDefaultChar ? *lpDefaultChar : '?';
  const bool best_fit = (dwFlags & WC_NO_BEST_FIT_CHARS) == 0;
  BOOL used_default = FALSE;
  for (int i = 0; i < cchWideChar; ++i) {
    int byte = WideToCp1252(lpWideCharStr[i], best_fit);
    if (byte < 0) {
      used_default = TRUE;
      out.Put(default_char);
    } else {
      out.Put(static_cast<char>(byte));
    }
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = used_default;
  return out.Finish();
}

}  // extern "C"
