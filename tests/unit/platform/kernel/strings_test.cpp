#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "wide_text.h"

namespace {

// Windows-1252 upper case: a-z, the three caron/ligature letters of 0x9A,
// 0x9C, 0x9E, the accented letters of 0xE0-0xFE (not the division sign) and
// y with diaeresis (0xFF), which moves to 0x9F. Everything else, sharp s and
// micro sign included, has no upper case in the code page.
int ExpectedUpper(int byte) {
  if (byte >= 'a' && byte <= 'z') return byte - 0x20;
  if (byte == 0x9A || byte == 0x9C || byte == 0x9E) return byte - 0x10;
  if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return byte - 0x20;
  if (byte == 0xFF) return 0x9F;
  return byte;
}

int ExpectedLower(int byte) {
  if (byte >= 'A' && byte <= 'Z') return byte + 0x20;
  if (byte == 0x8A || byte == 0x8C || byte == 0x8E) return byte + 0x10;
  if (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) return byte + 0x20;
  if (byte == 0x9F) return 0xFF;
  return byte;
}

}  // namespace

TEST(CaseMapping, AnsiBuffersFollowWindows1252) {
  char upper[256], lower[256];
  for (int i = 0; i < 256; ++i) upper[i] = lower[i] = static_cast<char>(i);
  EXPECT_EQ(CharUpperBuffA(upper, 256), 256u);
  EXPECT_EQ(CharLowerBuffA(lower, 256), 256u);
  for (int i = 0; i < 256; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<unsigned char>(upper[i]), ExpectedUpper(i));
    EXPECT_EQ(static_cast<unsigned char>(lower[i]), ExpectedLower(i));
  }
}

TEST(CaseMapping, StringAndSingleCharacterForms) {
  char text[] = "Caf\xE9 \xFF\x9A" "a";
  EXPECT_EQ(CharUpperA(text), text) << "the string form converts in place";
  EXPECT_STREQ(text, "CAF\xC9 \x9F\x8A" "A");
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(0xE9)))), 0xC9u);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(0xFF)))), 0x9Fu);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharLowerA(reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>('Q')))),
            static_cast<ULONG_PTR>('q'));

  // é ÿ š œ ß µ α я -> É Ÿ Š Œ ß µ Α Я
  WCHAR wide[] = {0x00E9, 0x00FF, 0x0161, 0x0153, 0x00DF, 0x00B5, 0x03B1, 0x044F, u'z', 0};
  const WCHAR upper[] = {0x00C9, 0x0178, 0x0160, 0x0152, 0x00DF, 0x00B5, 0x0391, 0x042F, u'Z', 0};
  EXPECT_EQ(CharUpperW(wide), wide);
  EXPECT_EQ(WideString(wide), WideString(upper));
  EXPECT_EQ(CharLowerBuffW(wide, 4), 4u) << "only the given length changes";
  EXPECT_EQ(wide[3], WCHAR(0x0153));
  EXPECT_EQ(wide[4], WCHAR(0x00DF));
  EXPECT_EQ(wide[8], WCHAR(u'Z'));
  EXPECT_EQ(CharUpperBuffW(wide, 2), 2u);
  EXPECT_EQ(wide[1], WCHAR(0x0178));
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(0xFF)))), 0x178u);
}

TEST(Strings, LengthCopyAndComparison) {
  EXPECT_EQ(lstrlenA("abc"), 3);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenW(WIDE("abcd")), 4);
  EXPECT_EQ(lstrlenW(nullptr), 0);

  WCHAR copy[4];
  EXPECT_EQ(lstrcpynW(copy, WIDE("abcdef"), 4), copy);
  EXPECT_EQ(WideString(copy), WIDE("abc")) << "cut to leave room for the terminator";

  EXPECT_EQ(lstrcmpW(WIDE("abc"), WIDE("abc")), 0);
  EXPECT_LT(lstrcmpW(WIDE("a"), WIDE("B")), 0) << "letters compare alphabetically, not by code";
  EXPECT_LT(lstrcmpW(WIDE("a"), WIDE("A")), 0) << "lower case first";
  EXPECT_GT(lstrcmpW(WIDE("ab"), WIDE("a")), 0);
  EXPECT_GT(lstrcmpW(WIDE("a-b"), WIDE("ab")), 0) << "a hyphen only decides a tie";
  EXPECT_GT(lstrcmpW(WIDE("a-c"), WIDE("ab")), 0) << "a hyphen is ignored, not weighed as a symbol";
  EXPECT_EQ(lstrcmpiW(WIDE("\u00e9T\u00e9"), WIDE("\u00c9t\u00c9")), 0);
  EXPECT_LT(lstrcmpiW(WIDE("abc"), WIDE("ABD")), 0);
  EXPECT_LT(lstrcmpW(WIDE("e"), WIDE("\u00e9")), 0);
  EXPECT_LT(lstrcmpW(WIDE("\u00e9"), WIDE("f")), 0) << "an accent does not move a letter past the next";
  EXPECT_LT(lstrcmpA("a", "B"), 0);
  EXPECT_EQ(lstrcmpiA("caf\xE9", "CAF\xC9"), 0);
  EXPECT_NE(lstrcmpA("caf\xE9", "CAF\xC9"), 0);
}

namespace {

WideString Printed(LPCWSTR format, ...) {
  WCHAR buffer[1100];
  va_list args;
  va_start(args, format);
  int length = wvsprintfW(buffer, format, args);
  va_end(args);
  EXPECT_EQ(length, lstrlenW(buffer));
  return buffer;
}

}  // namespace

TEST(Wsprintf, WindowsFormats) {
  EXPECT_EQ(Printed(WIDE("%d|%i|%u|%x|%X"), -12, 34, -1, 0xbeef, 0xbeef), WIDE("-12|34|4294967295|beef|BEEF"));
  EXPECT_EQ(Printed(WIDE("%5d|%-5d|%05d|%05d|"), 42, 42, 42, -42), WIDE("   42|42   |00042|-0042|"));
  EXPECT_EQ(Printed(WIDE("%.3d|%5.3d|%#x|%#X|%#05x"), 7, 7, 255, 255, 255), WIDE("007|  007|0xff|0XFF|0x000ff"));
  LONG negative = -7;
  DWORD large = 4000000000u;
  EXPECT_EQ(Printed(WIDE("%ld|%lu|%lx|%li"), negative, large, 0xdeadbeefu, 12), WIDE("-7|4000000000|deadbeef|12"));
  EXPECT_EQ(Printed(WIDE("%s|%ls|%S|%hs"), WIDE("wide"), WIDE("lw"), "narrow", "hnarrow"),
            WIDE("wide|lw|narrow|hnarrow"));
  EXPECT_EQ(Printed(WIDE("%5s|%-5s|%.2s|%5.1s|"), WIDE("ab"), WIDE("ab"), WIDE("abcd"), WIDE("xyz")),
            WIDE("   ab|ab   |ab|    x|"));
  EXPECT_EQ(Printed(WIDE("%c|%C|%hc|%3c|%-3c|"), WIDE('W'), 'n', 'h', WIDE('x'), WIDE('y')), WIDE("W|n|h|  x|y  |"));
  EXPECT_EQ(Printed(WIDE("%s|%S"), static_cast<LPCWSTR>(nullptr), static_cast<LPCSTR>(nullptr)),
            WIDE("(null)|(null)"));
  EXPECT_EQ(Printed(WIDE("%S"), "\xE9\x80"), WIDE("\u00e9\u20ac")) << "8-bit text is read in the system code page";
  EXPECT_EQ(Printed(WIDE("%%|%y|%+d|%"), 5), WIDE("%|y|+d|")) << "unsupported conversions write their letter";
  EXPECT_EQ(Printed(WIDE("%p"), reinterpret_cast<void *>(0x1234abcd)), WIDE("000000001234ABCD"));

  char narrow[64];
  EXPECT_EQ(wsprintfA(narrow, "%d|%s|%S|%c|%5.2s", -3, "ansi", WIDE("w\u20ac\u4e2d"), 'c', "abc"), 19);
  EXPECT_STREQ(narrow, "-3|ansi|w\x80?|c|   ab");
}

TEST(Wsprintf, OutputStopsAt1024Units) {
  WideString long_text(1999, WIDE('x'));
  WCHAR buffer[1100];
  for (auto &unit : buffer) unit = WIDE('#');
  int result = wsprintfW(buffer, WIDE("ab%s"), long_text.c_str());
  EXPECT_EQ(lstrlenW(buffer), 1023);
  EXPECT_EQ(buffer[1024], WIDE('#')) << "nothing is written past the limit";
  EXPECT_EQ(result, 1024) << "the result is the limit when the text was cut";

  std::string long_format(1500, 'z');
  char narrow[1100];
  wsprintfA(narrow, long_format.c_str());
  EXPECT_EQ(lstrlenA(narrow), 1023);
}
