// The main of every test program. Over the platform layer each run gets its
// own temporary root folder (registry, drive folders), removed afterwards, so
// that tests never touch a user's state nor each other's.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#include <string>
#endif

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
#ifndef _WIN32
  std::string root;
  if (std::getenv("WINPLATFORM_ROOT") == nullptr) {
    char pattern[] = "/tmp/winplatform-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 2;
    root = pattern;
    setenv("WINPLATFORM_ROOT", root.c_str(), 1);
  }
  int result = RUN_ALL_TESTS();
  if (!root.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  return result;
#else
  return RUN_ALL_TESTS();
#endif
}
