#include <gtest/gtest.h>

#include "OleautTestSupport.h"

namespace {

const GUID kSample = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xFF}};

TEST(Guid, TextRoundTrip) {
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}"));
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);

  GUID parsed = GUID_NULL;
  EXPECT_EQ(CLSIDFromString(text, &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, kSample));
  EXPECT_TRUE(parsed == kSample);
  parsed = GUID_NULL;
  EXPECT_EQ(IIDFromString(OLESTR("{12345678-9abc-def0-0102-0304050607ff}"), &parsed), S_OK);
  EXPECT_TRUE(IsEqualIID(parsed, kSample));

  EXPECT_EQ(StringFromGUID2(IID_IDispatch, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{00020400-0000-0000-C000-000000000046}"));
  EXPECT_EQ(StringFromGUID2(IID_IUnknown, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{00000000-0000-0000-C000-000000000046}"));
  EXPECT_EQ(StringFromGUID2(IID_ISupportErrorInfo, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{DF0B3D60-548F-101B-8E65-08002B2BD119}"));
  EXPECT_TRUE(IsEqualCLSID(GUID_NULL, IID_NULL));
  EXPECT_TRUE(kSample != IID_IDispatch);

  LPOLESTR allocated = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &allocated), S_OK);
  EXPECT_EQ(OleString(allocated), OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}"));
  CoTaskMemFree(allocated);
}

TEST(Guid, MalformedTextIsRejected) {
  const OLECHAR *malformed[] = {
      OLESTR("12345678-9ABC-DEF0-0102-0304050607FF"),   OLESTR("{12345678-9ABC-DEF0-0102-0304050607FG}"),
      OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}x"), OLESTR("{12345678-9ABC-DEF0-0102-0304050607F}"),
      OLESTR("{12345678+9ABC-DEF0-0102-0304050607FF}"),  OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF"),
      OLESTR("{}"),                                      OLESTR("")};
  for (const OLECHAR *text : malformed) {
    GUID parsed;
    EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING) << testing::PrintToString(OleString(text).size());
  }
  GUID parsed = kSample;
  // Interface identifiers: wrong length is a bad argument, a bad 38-character
  // text a bad interface string; the output is left alone.
  EXPECT_EQ(IIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607F}"), &parsed), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(OLESTR(""), &parsed), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}x"), &parsed), E_INVALIDARG);
  EXPECT_TRUE(parsed == kSample);
  EXPECT_EQ(IIDFromString(OLESTR("{12345678+9ABC-DEF0-0102-0304050607FF}"), &parsed), CO_E_IIDSTRING);
  EXPECT_EQ(IIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607FG}"), &parsed), CO_E_IIDSTRING);

  // A null text is the null GUID.
  parsed = kSample;
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(parsed == GUID_NULL);
  parsed = kSample;
  EXPECT_EQ(IIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(parsed == GUID_NULL);
  EXPECT_EQ(CLSIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}"), nullptr), E_INVALIDARG);
}

TEST(Guid, AbiLayoutOfAutomationTypes) {
  EXPECT_EQ(sizeof(GUID), 16u);
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_EQ(sizeof(DECIMAL), 16u);
  EXPECT_EQ(sizeof(CY), 8u);
  EXPECT_EQ(sizeof(SAFEARRAY), 32u);
  EXPECT_EQ(sizeof(SAFEARRAYBOUND), 8u);
  EXPECT_EQ(sizeof(VARIANT_BOOL), 2u);
  EXPECT_EQ(sizeof(OLECHAR), 2u);
  EXPECT_EQ(offsetof(SAFEARRAY, pvData), 16u);
  EXPECT_EQ(offsetof(SAFEARRAY, rgsabound), 24u);
  EXPECT_EQ(sizeof(DISPPARAMS), 24u);
  EXPECT_EQ(sizeof(EXCEPINFO), 64u);
  EXPECT_EQ(sizeof(TYPEATTR), 96u);
  EXPECT_EQ(sizeof(FUNCDESC), 88u);
  EXPECT_EQ(sizeof(ELEMDESC), 32u);
  // The value of a variant starts 8 bytes in; a decimal overlays all of it
  // but the type tag.
  VARIANT v;
  EXPECT_EQ(reinterpret_cast<BYTE *>(&v.lVal) - reinterpret_cast<BYTE *>(&v), 8);
  EXPECT_EQ(reinterpret_cast<BYTE *>(&v.decVal.Hi32) - reinterpret_cast<BYTE *>(&v), 4);
  EXPECT_EQ(reinterpret_cast<BYTE *>(&V_RECORDINFO(&v)) - reinterpret_cast<BYTE *>(&v), 16);
}

}  // namespace
