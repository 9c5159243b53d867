// Debugger output over the platform layer: silent by default, received by a
// listener, copied by the environment switch. (On Windows nothing of this is
// observable without a debugger.)
#ifndef _WIN32
#include <windows.h>
#include <gtest/gtest.h>
#include <platform/debug_output.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ServicesTestSupport.h"

using namespace services_test;

namespace {

void collect(void *context, LPCWSTR text) { static_cast<std::vector<WideString> *>(context)->push_back(text); }

TEST(DebugOutput, ListenerReceivesEveryTextUntilDetached) {
  std::vector<WideString> received;
  PlatformSetDebugOutputListener(collect, &received);
  OutputDebugStringW(WIDE("Load: thread 42 reading C:\\perf\n"));
  OutputDebugStringA("caf\xe9\n");
  OutputDebugStringW(nullptr);  // nothing to write
  OutputDebugStringW(WIDE(""));
  PlatformSetDebugOutputListener(nullptr, nullptr);
  OutputDebugStringW(WIDE("after detach\n"));

  ASSERT_EQ(3u, received.size());
  EXPECT_EQ(WideString(WIDE("Load: thread 42 reading C:\\perf\n")), received[0]);
  EXPECT_EQ(WideString(WIDE("caf\u00e9\n")), received[1]);
  EXPECT_EQ(WideString(), received[2]);
}

TEST(DebugOutput, EnvironmentSwitchCopiesTextsToAFileInUtf8) {
  const std::string path = tempFile("debug_output.txt");
  DeleteFileA(path.c_str());
  setenv("WINPLATFORM_DEBUG_OUTPUT", path.c_str(), 1);
  OutputDebugStringW(WIDE("first line\n"));
  OutputDebugStringW(WIDE("caf\u00e9 \u20ac\n"));
  unsetenv("WINPLATFORM_DEBUG_OUTPUT");
  OutputDebugStringW(WIDE("not copied\n"));

  File file(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ("first line\ncaf\xc3\xa9 \xe2\x82\xac\n", readAll(file.get()));
  file.reset();
  DeleteFileA(path.c_str());
}

}  // namespace
#endif
