// Every registry test works below its own key
// HKEY_CURRENT_USER\Software\<suite>_<process id>, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../PlatformTestSupport.h"

inline std::vector<BYTE> bytesOf(const void *data, size_t size) {
  const BYTE *bytes = static_cast<const BYTE *>(data);
  return std::vector<BYTE>(bytes, bytes + size);
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = std::string("Software\\") + ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() +
           "_" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             root.out(), nullptr));
  }
  void TearDown() override {
    root.reset();
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()));
  }

  // Creates (or opens) a subkey of the test key with every right.
  LONG create(const char *subKey, Key &key, DWORD *disposition = nullptr) {
    return RegCreateKeyExA(root.get(), subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), disposition);
  }

  std::string path;
  Key root;
};
