// Debugger output over the platform layer: silent by default, received by a
// listener until it is detached, and copied to a file in UTF-8 while the
// environment switch names one. (On Windows nothing of this is observable
// without a debugger.)
#ifndef _WIN32
#include <gtest/gtest.h>
#include <platform/debug_output.h>

#include <cstdlib>
#include <vector>

#include "ServicesTestSupport.h"

namespace {

void collect(void *context, LPCWSTR text) { static_cast<std::vector<WideString> *>(context)->push_back(text); }

TEST(DebugOutput, ReachesTheListenerAndTheFileTheEnvironmentNames) {
  const std::string path = tempFile("debug_output.txt");
  DeleteFileA(path.c_str());
  std::vector<WideString> received;
  PlatformSetDebugOutputListener(collect, &received);
  setenv("WINPLATFORM_DEBUG_OUTPUT", path.c_str(), 1);
  OutputDebugStringW(WIDE("first line\n"));
  OutputDebugStringA("caf\xe9 \x80\n");
  OutputDebugStringW(nullptr);  // nothing to write
  unsetenv("WINPLATFORM_DEBUG_OUTPUT");
  PlatformSetDebugOutputListener(nullptr, nullptr);
  OutputDebugStringW(WIDE("after both\n"));

  EXPECT_EQ((std::vector<WideString>{WIDE("first line\n"), WIDE("caf\u00e9 \u20ac\n")}), received);
  Handle file(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ("first line\ncaf\xc3\xa9 \xe2\x82\xac\n", readAll(file.get()));
  file.reset();
  DeleteFileA(path.c_str());
}

// A listener that writes while it receives a text: its own text goes to the
// file the switch names, never back to it, and the others still reach it.
TEST(DebugOutput, AListenersOwnOutputGoesToTheFileOnly) {
  const std::string path = tempFile("debug_output_echo.txt");
  DeleteFileA(path.c_str());
  struct Echo {
    std::vector<WideString> received;
    static void receive(void *context, LPCWSTR text) {
      static_cast<Echo *>(context)->received.push_back(text);
      OutputDebugStringW(WIDE("echo\n"));
    }
  } echo;
  PlatformSetDebugOutputListener(Echo::receive, &echo);
  OutputDebugStringW(WIDE("unfiled\n"));
  setenv("WINPLATFORM_DEBUG_OUTPUT", path.c_str(), 1);
  OutputDebugStringW(WIDE("filed\n"));
  unsetenv("WINPLATFORM_DEBUG_OUTPUT");
  PlatformSetDebugOutputListener(nullptr, nullptr);

  EXPECT_EQ((std::vector<WideString>{WIDE("unfiled\n"), WIDE("filed\n")}), echo.received);
  Handle file(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ("filed\necho\n", readAll(file.get()));
  file.reset();
  DeleteFileA(path.c_str());
}

// The switch follows every change of the environment, whether the variable
// itself changes or others come and go around it.
TEST(DebugOutput, TheSwitchFollowsTheEnvironment) {
  const std::string first = tempFile("debug_switch_first.txt"), second = tempFile("debug_switch_second.txt");
  const auto contents = [](const std::string &path) {
    Handle file(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    return file.valid() ? readAll(file.get()) : std::string("<missing>");
  };
  for (const std::string &path : {first, second}) DeleteFileA(path.c_str());
  unsetenv("WINPLATFORM_DEBUG_OUTPUT");
  OutputDebugStringW(WIDE("nowhere\n"));
  setenv("WINPLATFORM_DEBUG_OUTPUT", first.c_str(), 1);
  OutputDebugStringW(WIDE("one\n"));
  setenv("WINPLATFORM_DEBUG_OUTPUT", second.c_str(), 1);
  OutputDebugStringW(WIDE("two\n"));
  setenv("DEBUG_OUTPUT_TEST_OTHER", "x", 1);
  OutputDebugStringW(WIDE("three\n"));
  unsetenv("DEBUG_OUTPUT_TEST_OTHER");
  OutputDebugStringW(WIDE("four\n"));
  unsetenv("WINPLATFORM_DEBUG_OUTPUT");
  OutputDebugStringW(WIDE("gone\n"));
  setenv("DEBUG_OUTPUT_TEST_OTHER", "y", 1);
  OutputDebugStringW(WIDE("still gone\n"));
  setenv("WINPLATFORM_DEBUG_OUTPUT", first.c_str(), 1);
  OutputDebugStringW(WIDE("back\n"));
  unsetenv("DEBUG_OUTPUT_TEST_OTHER");
  unsetenv("WINPLATFORM_DEBUG_OUTPUT");
  OutputDebugStringW(WIDE("gone again\n"));

  EXPECT_EQ("one\nback\n", contents(first));
  EXPECT_EQ("two\nthree\nfour\n", contents(second));
  for (const std::string &path : {first, second}) DeleteFileA(path.c_str());
}

}  // namespace
#endif
