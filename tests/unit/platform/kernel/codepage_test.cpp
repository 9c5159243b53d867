// Conversions between the system code page (Windows-1252), UTF-8 and UTF-16.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../PlatformTestSupport.h"

namespace {

WideString toWide(UINT codePage, const std::string &bytes, DWORD flags = 0) {
  WCHAR wide[300];
  int length = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), wide, 300);
  return WideString(wide, size_t(length > 0 ? length : 0));
}

std::string toBytes(UINT codePage, const WideString &wide, BOOL *usedDefault, DWORD flags = 0,
                    const char *defaultChar = nullptr) {
  char bytes[300];
  int length =
      WideCharToMultiByte(codePage, flags, wide.data(), int(wide.size()), bytes, 300, defaultChar, usedDefault);
  return std::string(bytes, size_t(length > 0 ? length : 0));
}

}  // namespace

TEST(CodePage, EveryWindows1252ByteRoundTripsAndTheRestBecomesTheDefault) {
  EXPECT_EQ(GetACP(), 1252u);
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[size_t(i)] = static_cast<char>(i);
  for (UINT codePage : {UINT(CP_ACP), UINT(CP_THREAD_ACP), 1252u}) {
    SCOPED_TRACE(codePage);
    WideString wide = toWide(codePage, all, MB_ERR_INVALID_CHARS);  // the undefined bytes are no errors
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide[0x80], WCHAR(0x20AC));  // euro sign
    EXPECT_EQ(wide[0x8A], WCHAR(0x0160));  // S with caron
    EXPECT_EQ(wide[0x9F], WCHAR(0x0178));  // Y with diaeresis
    EXPECT_EQ(wide[0xE9], WCHAR(0x00E9));
    for (int undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(wide[size_t(undefined)], WCHAR(undefined));
    BOOL used = 7;
    EXPECT_EQ(toBytes(codePage, wide, &used), all);
    EXPECT_FALSE(used);
  }
  // What has no byte becomes the default character, or a similar one where
  // Windows knows one, unless told not to.
  BOOL used = FALSE;
  const WCHAR hanAndNotEqual[] = {0x4E2D, u'x', 0x2260}, similar[] = {0x0100, 0x0131, 0xFF21};
  EXPECT_EQ(toBytes(CP_ACP, WideString(hanAndNotEqual, 3), &used), "?x?");
  EXPECT_TRUE(used);
  EXPECT_EQ(toBytes(CP_ACP, WideString(hanAndNotEqual, 3), &used, 0, "*"), "*x*");
  EXPECT_EQ(toBytes(CP_ACP, WideString(similar, 3), &used), "AiA");
  EXPECT_FALSE(used);
  EXPECT_EQ(toBytes(CP_ACP, WideString(similar, 3), &used, WC_NO_BEST_FIT_CHARS), "???");
  EXPECT_TRUE(used);
}

TEST(CodePage, LengthsAndFailures) {
  WCHAR wide[8];
  char bytes[8];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4) << "-1 counts the terminator";
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\0b", 3, wide, 8), 3) << "a given length passes zeros through";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, WIDE("abc"), -1, nullptr, 0, nullptr, nullptr), 4);
  // The error is read right after the call that set it.
  auto expectFailure = [](const char *what, int result, DWORD error) {
    SCOPED_TRACE(what);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetLastError(), error);
  };
  expectFailure("short wide buffer", MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), ERROR_INSUFFICIENT_BUFFER);
  expectFailure("short byte buffer", WideCharToMultiByte(CP_ACP, 0, WIDE("abc"), -1, bytes, 2, nullptr, nullptr),
                ERROR_INSUFFICIENT_BUFFER);
  expectFailure("no source", MultiByteToWideChar(CP_ACP, 0, nullptr, 3, wide, 8), ERROR_INVALID_PARAMETER);
  expectFailure("unknown code page", MultiByteToWideChar(12345, 0, "a", 1, wide, 8), ERROR_INVALID_PARAMETER);
  expectFailure("unknown flag", MultiByteToWideChar(CP_ACP, 0x100, "a", 1, wide, 8), ERROR_INVALID_FLAGS);
}

TEST(CodePage, Utf8RoundTripAndInvalidInput) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € and an emoji
  const WCHAR expected[] = {u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00};
  EXPECT_EQ(toWide(CP_UTF8, utf8, MB_ERR_INVALID_CHARS), WideString(expected, 5));
  EXPECT_EQ(toBytes(CP_UTF8, WideString(expected, 5), nullptr), utf8);

  // Each invalid piece becomes U+FFFD, as the Windows decoder replaces it,
  // and is an error when asked for.
  const struct {
    std::string input;
    std::vector<int> output;
  } cases[] = {
      {"\x80", {0xFFFD}},
      {"\xC0\x80", {0xFFFD, 0xFFFD}},
      {"\xE2\x82x", {0xFFFD, 'x'}},
      {"\xED\xA0\x80", {0xFFFD, 0xFFFD}},
      {"\xF4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    WideString decoded = toWide(CP_UTF8, c.input);
    EXPECT_EQ(std::vector<int>(decoded.begin(), decoded.end()), c.output);
    SetLastError(0);
    EXPECT_EQ(toWide(CP_UTF8, c.input, MB_ERR_INVALID_CHARS), WideString());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }
  const WCHAR loneSurrogate[] = {u'a', 0xDC00};
  EXPECT_EQ(toBytes(CP_UTF8, WideString(loneSurrogate, 2), nullptr), "a\xEF\xBF\xBD");
  SetLastError(0);
  EXPECT_EQ(toBytes(CP_UTF8, WideString(loneSurrogate, 2), nullptr, WC_ERR_INVALID_CHARS), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}
