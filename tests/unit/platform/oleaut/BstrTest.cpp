#include <gtest/gtest.h>

#include <string.h>

#include "OleautTestSupport.h"

namespace {

DWORD lengthPrefix(BSTR text) {
  DWORD length;
  memcpy(&length, reinterpret_cast<const BYTE *>(text) - sizeof length, sizeof length);
  return length;
}

TEST(Bstr, ByteLengthPrefixZeroTerminatorAndEmbeddedZeros) {
  Bstr text(OLESTR("hello")), empty(OLESTR("")), embedded(SysAllocStringLen(OLESTR("a\0b"), 3));
  EXPECT_EQ(SysStringLen(text.get()), 5u);
  EXPECT_EQ(SysStringByteLen(text.get()), 10u);
  EXPECT_EQ(lengthPrefix(text.get()), 10u);
  EXPECT_EQ(text.get()[5], 0);
  ASSERT_NE(empty.get(), nullptr);
  EXPECT_EQ(SysStringLen(empty.get()), 0u);
  EXPECT_EQ(textOf(embedded.get()), OleString(OLESTR("a\0b"), 3));

  // An odd byte length keeps every byte, then a zero byte and a whole zero character.
  Bstr odd(SysAllocStringByteLen("abc", 3));
  EXPECT_EQ(SysStringByteLen(odd.get()), 3u);
  EXPECT_EQ(SysStringLen(odd.get()), 1u);
  EXPECT_EQ(lengthPrefix(odd.get()), 3u);
  EXPECT_EQ(memcmp(odd.get(), "abc\0\0", 6), 0);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  Bstr sized(SysAllocStringLen(nullptr, 3));
  EXPECT_EQ(SysStringLen(sized.get()), 3u);
  EXPECT_EQ(sized.get()[3], 0);
  EXPECT_EQ(SysAllocStringByteLen("x", 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, ReallocationFromInsideTheOldTextOrFromNothing) {
  Bstr text;
  BSTR *slot = text.out();
  *slot = SysAllocString(OLESTR("hello"));
  EXPECT_EQ(SysReAllocString(nullptr, OLESTR("x")), FALSE);
  EXPECT_TRUE(SysReAllocStringLen(slot, *slot + 1, 2));
  EXPECT_EQ(textOf(*slot), OLESTR("el"));
  // A null text keeps what fits and sizes the string.
  EXPECT_TRUE(SysReAllocStringLen(slot, nullptr, 8));
  EXPECT_EQ(SysStringLen(*slot), 8u);
  EXPECT_EQ(OleString(*slot, 2), OLESTR("el"));
  EXPECT_EQ((*slot)[8], 0);
  EXPECT_TRUE(SysReAllocString(slot, nullptr));
  EXPECT_EQ(*slot, nullptr);
}

}  // namespace
