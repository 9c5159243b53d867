#include <windows.h>
#include <gtest/gtest.h>

TEST(Smoke, HresultMacros) {
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), (HRESULT)0x80070002);
  EXPECT_EQ(sizeof(LONG), 4u);
  EXPECT_EQ(sizeof(WCHAR), 2u);
}
