#include <gtest/gtest.h>

#include <stddef.h>

#include "OleautTestSupport.h"

// The automation types have the 64-bit Windows layout on both targets.
static_assert(sizeof(GUID) == 16 && sizeof(VARIANT) == 24 && sizeof(DECIMAL) == 16 && sizeof(CY) == 8);
static_assert(sizeof(SAFEARRAY) == 32 && sizeof(SAFEARRAYBOUND) == 8 && sizeof(VARIANT_BOOL) == 2);
static_assert(sizeof(OLECHAR) == 2 && sizeof(DISPPARAMS) == 24 && sizeof(EXCEPINFO) == 64);
static_assert(sizeof(TYPEATTR) == 96 && sizeof(FUNCDESC) == 88 && sizeof(ELEMDESC) == 32);
static_assert(offsetof(SAFEARRAY, pvData) == 16 && offsetof(SAFEARRAY, rgsabound) == 24);
// The value of a variant starts 8 bytes in; a decimal overlays all of it but the type tag.
static_assert(offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, decVal.Hi32) == 4);

namespace {

const GUID kSample = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xFF}};

TEST(Guid, TextRoundTripAndMalformedText) {
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
  EXPECT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}"));
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{00020400-0000-0000-C000-000000000046}"));
  GUID parsed = GUID_NULL;
  EXPECT_EQ(CLSIDFromString(OLESTR("{12345678-9abc-def0-0102-0304050607ff}"), &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, kSample));

  const OLECHAR *malformed[] = {OLESTR("12345678-9ABC-DEF0-0102-0304050607FF"),
                                OLESTR("{12345678-9ABC-DEF0-0102-0304050607FG}"),
                                OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}x"),
                                OLESTR("{12345678-9ABC-DEF0-0102-0304050607F}"),
                                OLESTR("{12345678+9ABC-DEF0-0102-0304050607FF}"),
                                OLESTR("{}"),
                                OLESTR("")};
  for (const OLECHAR *bad : malformed) {
    EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING) << OleString(bad).size();
  }
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK) << "a null text is the null GUID";
  EXPECT_TRUE(IsEqualGUID(parsed, GUID_NULL));
  EXPECT_EQ(CLSIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}"), nullptr), E_INVALIDARG);
}

}  // namespace
