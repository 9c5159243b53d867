// The mapping between Windows and POSIX paths, and the root folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kernel/paths.h"

using namespace platform::kernel;

TEST(Paths, WindowsAndPosixFormsMapBothWays) {
  const std::string root = rootFolder();
  EXPECT_EQ(std::getenv(RootVariable), root);
  const std::pair<std::string, std::string> toPosix[] = {
      {"Z:\\opt\\app\\x.so", "/opt/app/x.so"},
      {"z:/opt/app\\x.so", "/opt/app/x.so"},
      {"Z:\\", "/"},
      {"Z:", "/"},
      {"C:\\perf\\RVCounters.xml", root + "/c/perf/RVCounters.xml"},
      {"D:", root + "/d"},
      {"\\\\?\\Z:\\tmp\\a", "/tmp/a"},
      {"/opt/plain", "/opt/plain"},
      {"relative\\file.ini", "relative/file.ini"},
  };
  for (const auto &[windows, posix] : toPosix) EXPECT_EQ(posix, toPosixPath(windows)) << windows;

  // A folder of the root whose name is longer than one letter is no drive.
  std::string rootAsWindows = "Z:" + root + "\\cc\\x";
  for (char &c : rootAsWindows) c = c == '/' ? '\\' : c;
  const std::pair<std::string, std::string> toWindows[] = {
      {"/opt/app", "Z:\\opt\\app"},    {"/", "Z:\\"},   {root + "/c/perf/x.h", "C:\\perf\\x.h"}, {root + "/c", "C:\\"},
      {root + "/cc/x", rootAsWindows}, {"a/b", "a\\b"},
  };
  for (const auto &[posix, windows] : toWindows) EXPECT_EQ(windows, toWindowsPath(posix)) << posix;
  for (const char *path : {"C:\\perf\\x.h", "Z:\\opt\\app\\x.so", "E:\\"})
    EXPECT_EQ(path, toWindowsPath(toPosixPath(path)));
}
