#include <gtest/gtest.h>

#include <stddef.h>

#include "OleautTestSupport.h"

namespace {

const GUID kSample = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xFF}};

TEST(Guid, TextRoundTripAndWellKnownInterfaces) {
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
  EXPECT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}"));
  GUID parsed = GUID_NULL;
  EXPECT_EQ(IIDFromString(OLESTR("{12345678-9abc-def0-0102-0304050607ff}"), &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, kSample));

  const struct {
    const IID &iid;
    const OLECHAR *text;
  } known[] = {{IID_IUnknown, OLESTR("{00000000-0000-0000-C000-000000000046}")},
               {IID_IDispatch, OLESTR("{00020400-0000-0000-C000-000000000046}")},
               {IID_ISupportErrorInfo, OLESTR("{DF0B3D60-548F-101B-8E65-08002B2BD119}")}};
  for (const auto &k : known) {
    EXPECT_EQ(StringFromGUID2(k.iid, text, 39), 39);
    EXPECT_EQ(OleString(text), k.text);
  }
}

TEST(Guid, MalformedTextIsRejected) {
  const OLECHAR *malformed[] = {
      OLESTR("12345678-9ABC-DEF0-0102-0304050607FF"),   OLESTR("{12345678-9ABC-DEF0-0102-0304050607FG}"),
      OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}x"), OLESTR("{12345678-9ABC-DEF0-0102-0304050607F}"),
      OLESTR("{12345678+9ABC-DEF0-0102-0304050607FF}"),  OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF"),
      OLESTR("{}"),                                      OLESTR("")};
  for (const OLECHAR *text : malformed) {
    GUID parsed;
    EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING) << OleString(text).size();
  }
  // Interface identifiers: a wrong length is a bad argument, a bad text of the right length a bad interface
  // string, and the output is left alone.
  GUID parsed = kSample;
  EXPECT_EQ(IIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607F}"), &parsed), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}x"), &parsed), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(OLESTR("{12345678+9ABC-DEF0-0102-0304050607FF}"), &parsed), CO_E_IIDSTRING);
  EXPECT_TRUE(parsed == kSample);
  // A null text is the null GUID.
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(parsed == GUID_NULL);
  parsed = kSample;
  EXPECT_EQ(IIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(parsed == GUID_NULL);
  EXPECT_EQ(CLSIDFromString(OLESTR("{12345678-9ABC-DEF0-0102-0304050607FF}"), nullptr), E_INVALIDARG);
}

TEST(Guid, AbiLayoutOfAutomationTypes) {
  const size_t sizes[][2] = {{sizeof(GUID), 16},      {sizeof(VARIANT), 24},       {sizeof(DECIMAL), 16},
                             {sizeof(CY), 8},         {sizeof(SAFEARRAY), 32},     {sizeof(SAFEARRAYBOUND), 8},
                             {sizeof(VARIANT_BOOL), 2}, {sizeof(OLECHAR), 2},      {sizeof(DISPPARAMS), 24},
                             {sizeof(EXCEPINFO), 64}, {sizeof(TYPEATTR), 96},      {sizeof(FUNCDESC), 88},
                             {sizeof(ELEMDESC), 32},  {offsetof(SAFEARRAY, pvData), 16},
                             {offsetof(SAFEARRAY, rgsabound), 24}};
  for (const auto &size : sizes) EXPECT_EQ(size[0], size[1]) << &size - sizes;
  // The value of a variant starts 8 bytes in; a decimal overlays all of it but the type tag.
  VARIANT v;
  EXPECT_EQ(reinterpret_cast<BYTE *>(&v.lVal) - reinterpret_cast<BYTE *>(&v), 8);
  EXPECT_EQ(reinterpret_cast<BYTE *>(&v.decVal.Hi32) - reinterpret_cast<BYTE *>(&v), 4);
  EXPECT_EQ(reinterpret_cast<BYTE *>(&V_RECORDINFO(&v)) - reinterpret_cast<BYTE *>(&v), 16);
}

}  // namespace
