// The mapping between Windows and POSIX paths, and the root folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kernel/paths.h"

using namespace platform::kernel;

TEST(Paths, WindowsFormsMapToPosix) {
  const std::string root = rootFolder();
  EXPECT_EQ(std::getenv(RootVariable), root);
  EXPECT_EQ("/opt/app/x.so", toPosixPath("Z:\\opt\\app\\x.so"));
  EXPECT_EQ("/opt/app/x.so", toPosixPath("z:/opt/app\\x.so"));
  EXPECT_EQ("/", toPosixPath("Z:\\"));
  EXPECT_EQ("/", toPosixPath("Z:"));
  EXPECT_EQ(root + "/c/perf/RVCounters.xml", toPosixPath("C:\\perf\\RVCounters.xml"));
  EXPECT_EQ(root + "/d", toPosixPath("D:"));
  EXPECT_EQ("/tmp/a", toPosixPath("\\\\?\\Z:\\tmp\\a"));
  EXPECT_EQ("/opt/plain", toPosixPath("/opt/plain"));
  EXPECT_EQ("relative/file.ini", toPosixPath("relative\\file.ini"));
}

TEST(Paths, PosixFormsMapToWindows) {
  const std::string root = rootFolder();
  EXPECT_EQ("Z:\\opt\\app", toWindowsPath("/opt/app"));
  EXPECT_EQ("Z:\\", toWindowsPath("/"));
  EXPECT_EQ("C:\\perf\\x.h", toWindowsPath(root + "/c/perf/x.h"));
  EXPECT_EQ("C:\\", toWindowsPath(root + "/c"));
  // A folder of the root whose name is longer than one letter is no drive.
  std::string rootAsWindows = "Z:" + root + "\\cc\\x";
  for (char &c : rootAsWindows)
    if (c == '/') c = '\\';
  EXPECT_EQ(rootAsWindows, toWindowsPath(root + "/cc/x"));
  EXPECT_EQ("a\\b", toWindowsPath("a/b"));
  // Round trips.
  for (const char *path : {"C:\\perf\\x.h", "Z:\\opt\\app\\x.so", "E:\\"}) EXPECT_EQ(path, toWindowsPath(toPosixPath(path)));
}

TEST(Paths, Utf8AndUtf16) {
  const std::string text = "Z:\\caf\xc3\xa9\\\xf0\x9f\x98\x80";
  const std::basic_string<WCHAR> wide = wideFromUtf8(text);
  ASSERT_EQ(10u, wide.size());
  EXPECT_EQ(0xE9, wide[6]);
  EXPECT_EQ(0xD83D, wide[8]);
  EXPECT_EQ(0xDE00, wide[9]);
  EXPECT_EQ(text, utf8FromWide(wide.c_str()));
  EXPECT_EQ("", utf8FromWide(wide.c_str(), 0));
}
