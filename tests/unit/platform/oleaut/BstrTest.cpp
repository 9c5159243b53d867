#include <gtest/gtest.h>

#include <string.h>

#include "OleautTestSupport.h"

namespace {

DWORD lengthPrefix(BSTR text) {
  DWORD length;
  memcpy(&length, reinterpret_cast<const BYTE *>(text) - sizeof length, sizeof length);
  return length;
}

TEST(Bstr, LayoutHasByteLengthPrefixAndZeroTerminator) {
  Bstr text(OLESTR("hello"));
  ASSERT_NE(text.get(), nullptr);
  EXPECT_EQ(SysStringLen(text.get()), 5u);
  EXPECT_EQ(SysStringByteLen(text.get()), 10u);
  EXPECT_EQ(lengthPrefix(text.get()), 10u);
  EXPECT_EQ(text.get()[5], 0);

  Bstr empty(OLESTR(""));
  ASSERT_NE(empty.get(), nullptr);
  EXPECT_EQ(SysStringLen(empty.get()), 0u);
  EXPECT_EQ(empty.get()[0], 0);

  // Embedded zeros are part of the text.
  Bstr embedded(SysAllocStringLen(OLESTR("a\0b"), 3));
  EXPECT_EQ(SysStringLen(embedded.get()), 3u);
  EXPECT_EQ(textOf(embedded.get()), OleString(OLESTR("a\0b"), 3));
}

TEST(Bstr, OddByteLengthKeepsEveryByte) {
  Bstr odd(SysAllocStringByteLen("abc", 3));
  ASSERT_NE(odd.get(), nullptr);
  EXPECT_EQ(SysStringByteLen(odd.get()), 3u);
  EXPECT_EQ(SysStringLen(odd.get()), 1u);
  EXPECT_EQ(lengthPrefix(odd.get()), 3u);
  const BYTE *bytes = reinterpret_cast<const BYTE *>(odd.get());
  EXPECT_EQ(memcmp(bytes, "abc", 3), 0);
  // A zero byte after the text, then a whole zero character.
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(bytes[4], 0);
  EXPECT_EQ(bytes[5], 0);

  Bstr zeroed(SysAllocStringByteLen(nullptr, 5));
  ASSERT_NE(zeroed.get(), nullptr);
  EXPECT_EQ(SysStringByteLen(zeroed.get()), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(reinterpret_cast<const BYTE *>(zeroed.get())[i], 0) << i;
}

TEST(Bstr, NullInputsFollowTheDocumentedRules) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  Bstr zeros(SysAllocStringLen(nullptr, 3));
  ASSERT_NE(zeros.get(), nullptr);
  EXPECT_EQ(SysStringLen(zeros.get()), 3u);
  EXPECT_EQ(zeros.get()[3], 0);

  EXPECT_EQ(SysReAllocString(nullptr, OLESTR("x")), FALSE);
  EXPECT_EQ(SysAllocStringByteLen("x", 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, ReallocationReplacesOrKeepsTheText) {
  Bstr text(OLESTR("hello"));
  BSTR *slot = text.out();
  *slot = SysAllocString(OLESTR("hello"));
  EXPECT_TRUE(SysReAllocString(slot, OLESTR("ab")));
  EXPECT_EQ(textOf(*slot), OLESTR("ab"));

  // From inside the old string.
  ASSERT_TRUE(SysReAllocString(slot, OLESTR("hello")));
  EXPECT_TRUE(SysReAllocStringLen(slot, *slot + 1, 2));
  EXPECT_EQ(textOf(*slot), OLESTR("el"));

  // A null text keeps what fits and sizes the string.
  ASSERT_TRUE(SysReAllocString(slot, OLESTR("hello")));
  EXPECT_TRUE(SysReAllocStringLen(slot, nullptr, 8));
  EXPECT_EQ(SysStringLen(*slot), 8u);
  EXPECT_EQ(OleString(*slot, 5), OLESTR("hello"));
  EXPECT_EQ((*slot)[8], 0);
  EXPECT_TRUE(SysReAllocStringLen(slot, nullptr, 2));
  EXPECT_EQ(textOf(*slot), OLESTR("he"));

  EXPECT_TRUE(SysReAllocString(slot, nullptr));
  EXPECT_EQ(*slot, nullptr);
  EXPECT_TRUE(SysReAllocString(slot, OLESTR("new")));
  EXPECT_EQ(textOf(*slot), OLESTR("new"));
}

}  // namespace
