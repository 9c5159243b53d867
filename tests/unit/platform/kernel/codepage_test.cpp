#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wide_text.h"

namespace {

WideString ToWide(UINT code_page, const std::string &bytes, DWORD flags = 0) {
  int needed = MultiByteToWideChar(code_page, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  WideString wide(static_cast<size_t>(needed), WCHAR());
  if (needed) MultiByteToWideChar(code_page, flags, bytes.data(), static_cast<int>(bytes.size()), &wide[0], needed);
  return wide;
}

std::string ToAnsi(const WideString &wide, BOOL *used_default, DWORD flags = 0, const char *default_char = nullptr) {
  char bytes[64];
  *used_default = 7;
  int written = WideCharToMultiByte(CP_ACP, flags, wide.data(), static_cast<int>(wide.size()), bytes, sizeof bytes,
                                    default_char, used_default);
  return std::string(bytes, static_cast<size_t>(written));
}

}  // namespace

TEST(CodePage, EveryWindows1252ByteRoundTrips) {
  EXPECT_EQ(GetACP(), 1252u);
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  for (UINT code_page : {static_cast<UINT>(CP_ACP), static_cast<UINT>(CP_THREAD_ACP), 1252u}) {
    WideString wide = ToWide(code_page, all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide[0x80], WCHAR(0x20AC));  // euro sign
    EXPECT_EQ(wide[0x8A], WCHAR(0x0160));  // S with caron
    EXPECT_EQ(wide[0x9F], WCHAR(0x0178));  // Y with diaeresis
    EXPECT_EQ(wide[0xE9], WCHAR(0x00E9));
    for (int undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(wide[undefined], WCHAR(undefined));
    char back[256];
    BOOL used_default = 7;
    ASSERT_EQ(WideCharToMultiByte(code_page, 0, wide.data(), 256, back, 256, nullptr, &used_default), 256);
    EXPECT_EQ(std::string(back, 256), all);
    EXPECT_FALSE(used_default);
  }
  EXPECT_EQ(ToWide(CP_ACP, "\x81\x8D\x8F\x90\x9D", MB_ERR_INVALID_CHARS).size(), 5u)
      << "the undefined bytes are not errors";

  // What has no byte becomes the default character, or a similar one where
  // Windows knows one, unless told not to.
  BOOL used = FALSE;
  const WCHAR han_and_not_equal[] = {0x4E2D, u'x', 0x2260};
  EXPECT_EQ(ToAnsi(WideString(han_and_not_equal, 3), &used), "?x?");
  EXPECT_TRUE(used);
  EXPECT_EQ(ToAnsi(WideString(han_and_not_equal, 3), &used, 0, "*"), "*x*");
  const WCHAR a_macron_dotless_i[] = {0x0100, 0x0131, 0xFF21};
  EXPECT_EQ(ToAnsi(WideString(a_macron_dotless_i, 3), &used), "AiA");
  EXPECT_FALSE(used);
  EXPECT_EQ(ToAnsi(WideString(a_macron_dotless_i, 3), &used, WC_NO_BEST_FIT_CHARS), "???");
  EXPECT_TRUE(used);
}

TEST(CodePage, LengthsSizesAndBufferErrors) {
  WCHAR wide[8];
  char bytes[8];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4) << "-1 counts the terminator";
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\0b", 3, wide, 8), 3) << "a given length passes zeros through";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, WIDE("abc"), -1, nullptr, 0, nullptr, nullptr), 4);

  // The error is read right after the call that set it.
  auto expect_failure = [](const char *what, int result, DWORD error) {
    SCOPED_TRACE(what);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetLastError(), error);
  };
  expect_failure("short wide buffer", MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), ERROR_INSUFFICIENT_BUFFER);
  expect_failure("short byte buffer", WideCharToMultiByte(CP_ACP, 0, WIDE("abc"), -1, bytes, 2, nullptr, nullptr),
                 ERROR_INSUFFICIENT_BUFFER);
  expect_failure("no source", MultiByteToWideChar(CP_ACP, 0, nullptr, 3, wide, 8), ERROR_INVALID_PARAMETER);
  expect_failure("unknown code page", MultiByteToWideChar(12345, 0, "a", 1, wide, 8), ERROR_INVALID_PARAMETER);
  expect_failure("unknown flag", MultiByteToWideChar(CP_ACP, 0x100, "a", 1, wide, 8), ERROR_INVALID_FLAGS);
  expect_failure("negative size", WideCharToMultiByte(CP_ACP, 0, WIDE("a"), 1, bytes, -1, nullptr, nullptr),
                 ERROR_INVALID_PARAMETER);
}

TEST(CodePage, Utf8RoundTripAndInvalidInput) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € and an emoji
  const WCHAR expected[] = {u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00};
  EXPECT_EQ(ToWide(CP_UTF8, utf8, MB_ERR_INVALID_CHARS), WideString(expected, 5));
  char back[32];
  int written = WideCharToMultiByte(CP_UTF8, 0, expected, 5, back, sizeof back, nullptr, nullptr);
  EXPECT_EQ(std::string(back, written > 0 ? written : 0), utf8);

  // Each invalid piece becomes U+FFFD, as the Windows decoder replaces it,
  // and is an error when asked for.
  struct {
    std::string input;
    std::vector<int> output;
  } const cases[] = {
      {"\x80", {0xFFFD}},
      {"\xC0\x80", {0xFFFD, 0xFFFD}},
      {"\xE2\x82x", {0xFFFD, 'x'}},
      {"\xED\xA0\x80", {0xFFFD, 0xFFFD}},
      {"\xE0\x80\x80", {0xFFFD, 0xFFFD}},
      {"\xF4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD}},
      {"\xC3\xA9\xFF", {0xE9, 0xFFFD}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    WideString decoded = ToWide(CP_UTF8, c.input);
    EXPECT_EQ(std::vector<int>(decoded.begin(), decoded.end()), c.output);
    WCHAR buffer[8];
    SetLastError(0);
    EXPECT_EQ(
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.input.data(), static_cast<int>(c.input.size()), buffer, 8),
        0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }

  const WCHAR lone_surrogate[] = {u'a', 0xDC00};
  written = WideCharToMultiByte(CP_UTF8, 0, lone_surrogate, 2, back, sizeof back, nullptr, nullptr);
  EXPECT_EQ(std::string(back, written > 0 ? written : 0), "a\xEF\xBF\xBD");
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone_surrogate, 2, back, sizeof back, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}
