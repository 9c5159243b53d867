#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../PlatformTestSupport.h"

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

TEST(CaseMapping, FollowsWindows1252AndUnicode) {
  char upper[256], lower[256];
  for (int i = 0; i < 256; ++i) upper[i] = lower[i] = static_cast<char>(i);
  EXPECT_EQ(CharUpperBuffA(upper, 256), 256u);
  EXPECT_EQ(CharLowerBuffA(lower, 256), 256u);
  int expected_lower[256];
  for (int i = 0; i < 256; ++i) expected_lower[i] = i;
  for (int i = 0; i < 256; ++i)
    if (ExpectedUpper(i) != i) expected_lower[ExpectedUpper(i)] = i;
  for (int i = 0; i < 256; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<unsigned char>(upper[i]), ExpectedUpper(i));
    EXPECT_EQ(static_cast<unsigned char>(lower[i]), expected_lower[i]);
  }
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(0xFF)))), 0x9Fu)
      << "a single character passed in the pointer";

  // é ÿ š œ ß µ α я -> É Ÿ Š Œ ß µ Α Я; only the given length changes.
  WCHAR wide[] = {0x00E9, 0x00FF, 0x0161, 0x0153, 0x00DF, 0x00B5, 0x03B1, 0x044F, u'z', 0};
  const WCHAR upper_wide[] = {0x00C9, 0x0178, 0x0160, 0x0152, 0x00DF, 0x00B5, 0x0391, 0x042F, u'Z', 0};
  EXPECT_EQ(CharUpperW(wide), wide);
  EXPECT_EQ(WideString(wide), WideString(upper_wide));
  EXPECT_EQ(CharLowerBuffW(wide, 4), 4u);
  EXPECT_EQ(wide[3], WCHAR(0x0153));
  EXPECT_EQ(WideString(wide).substr(4), WideString(upper_wide).substr(4));
  EXPECT_EQ(lstrcmpiW(WIDE("\u00e9T\u00e9"), WIDE("\u00c9t\u00c9")), 0);
}

TEST(Wsprintf, WidthPrecisionAndPadding) {
  const struct {
    const WCHAR *format;
    int value;
    const WCHAR *expected;
  } numbers[] = {
      {WIDE("%d"), -12, WIDE("-12")},        {WIDE("%u"), -1, WIDE("4294967295")}, {WIDE("%X"), 0xbeef, WIDE("BEEF")},
      {WIDE("%5d"), 42, WIDE("   42")},      {WIDE("%-5d"), 42, WIDE("42   ")},    {WIDE("%05d"), -42, WIDE("-0042")},
      {WIDE("%.3d"), 7, WIDE("007")},        {WIDE("%5.3d"), 7, WIDE("  007")},    {WIDE("%#x"), 255, WIDE("0xff")},
      {WIDE("%#05x"), 255, WIDE("0x000ff")}, {WIDE("%ld"), -7, WIDE("-7")},        {WIDE("%3c"), 'x', WIDE("  x")},
      {WIDE("%-3c"), 'y', WIDE("y  ")},      {WIDE("%+d"), 5, WIDE("+d")},  // unsupported: the letter is written
  };
  for (const auto &c : numbers) EXPECT_EQ(Printed(c.format, c.value), c.expected) << c.value;
  const struct {
    const WCHAR *format;
    const WCHAR *expected;
  } texts[] = {
      {WIDE("%5s|"), WIDE("   ab|")},   {WIDE("%-5s|"), WIDE("ab   |")}, {WIDE("%.1s|"), WIDE("a|")},
      {WIDE("%5.1s|"), WIDE("    a|")}, {WIDE("%ls"), WIDE("ab")},
  };
  for (const auto &c : texts) EXPECT_EQ(Printed(c.format, WIDE("ab")), c.expected);

  EXPECT_EQ(Printed(WIDE("%S|%hs|%C"), "narrow", "h", 'n'), WIDE("narrow|h|n"));
  EXPECT_EQ(Printed(WIDE("%s|%S"), static_cast<LPCWSTR>(nullptr), static_cast<LPCSTR>(nullptr)), WIDE("(null)|(null)"));
  EXPECT_EQ(Printed(WIDE("%S"), "\xE9\x80"), WIDE("\u00e9\u20ac")) << "8-bit text is read in the system code page";
  EXPECT_EQ(Printed(WIDE("%%|%y|%")), WIDE("%|y|"));
  EXPECT_EQ(Printed(WIDE("%p"), reinterpret_cast<void *>(0x1234abcd)), WIDE("000000001234ABCD"));
  char narrow[64];
  EXPECT_EQ(wsprintfA(narrow, "%d|%s|%S|%c|%5.2s", -3, "ansi", WIDE("w\u20ac\u4e2d"), 'c', "abc"), 19);
  EXPECT_STREQ(narrow, "-3|ansi|w\x80?|c|   ab");

  // The output stops at 1024 units, terminator included; nothing is written
  // past them, and the result is the limit when the text was cut.
  WideString long_text(1999, WIDE('x'));
  WCHAR buffer[1100];
  for (auto &unit : buffer) unit = WIDE('#');
  EXPECT_EQ(wsprintfW(buffer, WIDE("ab%s"), long_text.c_str()), 1024);
  EXPECT_EQ(lstrlenW(buffer), 1023);
  EXPECT_EQ(buffer[1024], WIDE('#'));
  std::string long_format(1500, 'z');
  char narrow_long[1100];
  wsprintfA(narrow_long, long_format.c_str());
  EXPECT_EQ(lstrlenA(narrow_long), 1023);
}

// The component walks paths with CharNextA to find their last backslash.
// Every length, starting at every alignment, with characters whose high or
// low byte is zero, so that no word of a text looks like its end.
TEST(Length, CountsToTheFirstZeroCharacterFromAnyAlignment) {
  const WCHAR characters[] = {0x0041, 0x0100, 0x8000, 0x00FF, 0xFFFF, 0x0001, 0x7F00};
  for (size_t start = 0; start < 8; ++start)
    for (int length = 0; length < 40; ++length) {
      WCHAR buffer[64];
      for (WCHAR &c : buffer) c = 0x0041;
      for (int i = 0; i < length; ++i) buffer[start + i] = characters[i % 7];
      buffer[start + length] = 0;
      EXPECT_EQ(length, lstrlenW(buffer + start)) << start << " " << length;
    }
  EXPECT_EQ(0, lstrlenW(nullptr));
}

TEST(NextCharacter, StepsOneCharacterAndStopsAtTheTerminator) {
  const char text[] = "C:\\d\xE9\\x";
  EXPECT_EQ(CharNextA(text), text + 1);
  EXPECT_EQ(CharNextA(text + 4), text + 5);
  EXPECT_EQ(CharNextA(text + 7), text + 7);
}
