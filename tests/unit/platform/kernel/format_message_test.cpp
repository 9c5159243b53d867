#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../PlatformTestSupport.h"

namespace {

constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kFromString = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY;

// The outcome of one call: the text, or the error it left.
struct Outcome {
  DWORD length;
  WideString text;
  DWORD error;
};

Outcome Format(DWORD flags, LPCVOID source, DWORD id, DWORD language = 0, const DWORD_PTR *args = nullptr,
               DWORD size = 512) {
  WCHAR buffer[512];
  SetLastError(0xDEAD);
  DWORD length = FormatMessageW(flags, source, id, language, buffer, size,
                                reinterpret_cast<va_list *>(const_cast<DWORD_PTR *>(args)));
  DWORD error = GetLastError();
  EXPECT_EQ(length, length ? static_cast<DWORD>(lstrlenW(buffer)) : 0u);
  return {length, length ? WideString(buffer) : WideString(), error};
}

WideString FromString(LPCWSTR message, const DWORD_PTR *args, DWORD flags = kFromString) {
  return Format(flags, message, 0, 0, args).text;
}

void ExpectFailure(const Outcome &outcome, DWORD error) {
  EXPECT_EQ(outcome.length, 0u);
  EXPECT_EQ(outcome.error, error);
}

}  // namespace

TEST(MessageText, SystemTextsAndCodesWithout) {
  // Wine has no texts for the automation codes (marked kPlatformOnly);
  // Windows and the platform do. The platform keeps no texts for Windows
  // Sockets codes, so that the component's own names are used; Wine has.
  constexpr bool kPlatformOnly = true;
  const struct {
    DWORD code;
    const WCHAR *text;
    bool platformOnly;
  } codes[] = {
      {static_cast<DWORD>(E_FAIL), WIDE("Call failed.\r\n"), false},
      {ERROR_FILE_NOT_FOUND, WIDE("File not found.\r\n"), false},
      {0x80070002, WIDE("File not found.\r\n"), false},  // facility Win32 reads as its system error
      {static_cast<DWORD>(E_INVALIDARG), WIDE("Invalid parameter.\r\n"), false},
      {ERROR_NO_UNICODE_TRANSLATION, WIDE("No Unicode translation.\r\n"), false},
      {static_cast<DWORD>(DISP_E_TYPEMISMATCH), WIDE("Type mismatch.\r\n"), kPlatformOnly},
      {static_cast<DWORD>(DISP_E_OVERFLOW), WIDE("Out of present range.\r\n"), kPlatformOnly},
      {static_cast<DWORD>(E_POINTER), WIDE("Invalid pointer\r\n"), kPlatformOnly},
      {static_cast<DWORD>(CO_E_NOTINITIALIZED), WIDE("CoInitialize has not been called.\r\n"), kPlatformOnly},
      {static_cast<DWORD>(REGDB_E_CLASSNOTREG), WIDE("Class not registered\r\n"), kPlatformOnly},
      {0xA0001234, nullptr, false},
      {10061, kPlatformLayer ? nullptr : WIDE("Connection refused.\r\n"), false},
  };
  for (const auto &c : codes) {
    SCOPED_TRACE(c.code);
    Outcome outcome = Format(kFromSystem, nullptr, c.code);
    if (c.text != nullptr && (kPlatformLayer || !c.platformOnly || outcome.length)) {
      EXPECT_EQ(outcome.text, c.text);
    } else {
      ExpectFailure(outcome, ERROR_MR_MID_NOT_FOUND);
    }
  }

  // The default languages and English have the texts; the language is looked for before the code.
  EXPECT_EQ(Format(kFromSystem, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT).text, WIDE("File not found.\r\n"));
  EXPECT_EQ(Format(kFromSystem, nullptr, ERROR_FILE_NOT_FOUND, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)).text,
            WIDE("File not found.\r\n"));
  const DWORD invariant = MAKELANGID(LANG_INVARIANT, SUBLANG_NEUTRAL);
  ExpectFailure(Format(kFromSystem, nullptr, ERROR_FILE_NOT_FOUND, invariant), ERROR_RESOURCE_LANG_NOT_FOUND);
  ExpectFailure(Format(kFromSystem, nullptr, 0xA0001234, invariant), ERROR_RESOURCE_LANG_NOT_FOUND);
}

TEST(MessageText, Inserts) {
  const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(WIDE("one")),
                            reinterpret_cast<DWORD_PTR>(WIDE("two")),
                            42,
                            static_cast<DWORD_PTR>(-5),
                            255,
                            reinterpret_cast<DWORD_PTR>("ansi")};
  EXPECT_EQ(FromString(WIDE("A %1 B %2 C %1"), args), WIDE("A one B two C one"));
  EXPECT_EQ(FromString(WIDE("[%3!d!][%4!d!][%5!x!][%5!04X!][%4!u!][%3!5d!][%3!-5d!]"), args),
            WIDE("[42][-5][ff][00FF][4294967291][   42][42   ]"));
  EXPECT_EQ(FromString(WIDE("[%1!s!][%1!5s!][%1!-5s!][%6!S!][%6!hs!][%1!ls!]"), args),
            WIDE("[one][  one][one  ][ansi][ansi][one]"));
  const DWORD_PTR star[] = {6, reinterpret_cast<DWORD_PTR>(WIDE("ab"))};
  EXPECT_EQ(FromString(WIDE("[%1!*s!]"), star), WIDE("[    ab]")) << "the width comes from the argument";
  EXPECT_EQ(FromString(WIDE("a%%b%nc%rd%te%.f%!g% h%0ignored"), args), WIDE("a%b\r\nc\rd\te.f!g h"));
  EXPECT_EQ(FromString(WIDE("line1\nline2\r\nline3\r"), args), WIDE("line1\r\nline2\r\nline3\r\n"));
  DWORD_PTR ten[10] = {};
  for (auto &arg : ten) arg = reinterpret_cast<DWORD_PTR>(WIDE("x"));
  ten[0] = reinterpret_cast<DWORD_PTR>(WIDE("one"));
  ten[9] = reinterpret_cast<DWORD_PTR>(WIDE("ten"));
  EXPECT_EQ(FromString(WIDE("%1 0|%10|%100"), ten), WIDE("one 0|ten|ten0")) << "two digits at most";

  EXPECT_EQ(
      FromString(WIDE("a %1 %2!d! %% %n %r %0 z"), nullptr, FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS),
      WIDE("a %1 %2!d! %% \r\n \r "));
  const DWORD_PTR system_args[] = {reinterpret_cast<DWORD_PTR>(WIDE("13D")),
                                   reinterpret_cast<DWORD_PTR>(WIDE("System"))};
  EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, ERROR_MR_MID_NOT_FOUND, 0,
                   system_args)
                .text,
            WIDE("Message 0x13D not found in file System.\r\n"))
      << "a system text's own inserts are expanded too";

  // Inserts without arguments, and broken inserts.
  ExpectFailure(Format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_MR_MID_NOT_FOUND), ERROR_INVALID_PARAMETER);
  ExpectFailure(Format(FORMAT_MESSAGE_FROM_STRING, WIDE("a %1 b"), 0), ERROR_INVALID_PARAMETER);
  ExpectFailure(Format(kFromString, WIDE("abc%"), 0, 0, args), ERROR_INVALID_PARAMETER);
  ExpectFailure(Format(kFromString, WIDE("x%1!d"), 0, 0, args), ERROR_INVALID_PARAMETER);

  // A va_list, and the 8-bit form with 8-bit and wide inserts.
  auto from_va_list = [](LPCWSTR message, ...) {
    WCHAR buffer[100];
    va_list va;
    va_start(va, message);
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING, message, 0, 0, buffer, 100, &va);
    va_end(va);
    return length ? WideString(buffer) : WideString();
  };
  EXPECT_EQ(from_va_list(WIDE("%1-%2!d!-%3!s!-%4!x!-%1"), WIDE("va"), -7, WIDE("end"), 0xabc),
            WIDE("va--7-end-abc-va"));
  char narrow[100];
  const DWORD_PTR mixed[] = {reinterpret_cast<DWORD_PTR>("narrow"), reinterpret_cast<DWORD_PTR>(WIDE("wide\u20ac")), 9};
  EXPECT_EQ(FormatMessageA(kFromString, "A:%1 %2!S! %3!d!\xE9", 0, 0, narrow, sizeof narrow,
                           reinterpret_cast<va_list *>(const_cast<DWORD_PTR *>(mixed))),
            17u);
  EXPECT_STREQ(narrow, "A:narrow wide\x80 9\xE9");
}

TEST(MessageText, LineWidthBuffersAndSources) {
  EXPECT_EQ(Format(kFromSystem | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, ERROR_FILE_NOT_FOUND).text,
            WIDE("File not found. "));
  EXPECT_EQ(FromString(WIDE("ab\r\ncd\nef%ngh\r\n"), nullptr, kFromString | FORMAT_MESSAGE_MAX_WIDTH_MASK),
            WIDE("ab cd ef\r\ngh "));
  EXPECT_EQ(FromString(WIDE("The quick brown fox jumps over the lazy dog and again"), nullptr, kFromString | 10),
            WIDE("The quick\r\nbrown fox\r\njumps\r\nover the\r\nlazy dog\r\nand again"));

  ExpectFailure(Format(kFromString, WIDE("abcdef"), 0, 0, nullptr, 6), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(Format(kFromString, WIDE("abcdef"), 0, 0, nullptr, 7).text, WIDE("abcdef"));
  ExpectFailure(Format(kFromSystem, nullptr, ERROR_FILE_NOT_FOUND, 0, nullptr, 5), ERROR_INSUFFICIENT_BUFFER);

  WCHAR *allocated = nullptr;
  DWORD length = FormatMessageW(kFromSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_ACCESS_DENIED, 0,
                                reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
  ASSERT_NE(allocated, nullptr);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(WideString(allocated), WIDE("Access denied.\r\n"));
  EXPECT_EQ(LocalFree(allocated), nullptr);
  allocated = reinterpret_cast<WCHAR *>(1);
  EXPECT_EQ(FormatMessageW(kFromSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0xA0001234, 0,
                           reinterpret_cast<LPWSTR>(&allocated), 0, nullptr),
            0u);
  EXPECT_EQ(allocated, nullptr) << "a failed allocating call hands out no buffer";

  // The process image has no message table; the system table is the fallback.
  ExpectFailure(Format(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND),
                ERROR_RESOURCE_DATA_NOT_FOUND);
  EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE | kFromSystem, nullptr, ERROR_FILE_NOT_FOUND).text,
            WIDE("File not found.\r\n"));
  ExpectFailure(Format(FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND), ERROR_INVALID_PARAMETER);
}
