#include <gtest/gtest.h>

#include <string.h>

#include "OleautTestSupport.h"

namespace {

const LCID kEnglishUs = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

HRESULT fromText(const OLECHAR *text, VARTYPE vt, VARIANT *out, USHORT flags = 0) {
  Variant in;
  Variant::text(&in, text);
  return VariantChangeTypeEx(out, &in, kEnglishUs, flags, vt);
}

HRESULT toText(VARIANT *in, OleString *text, USHORT flags = 0) {
  Variant out;
  HRESULT hr = VariantChangeTypeEx(&out, in, kEnglishUs, flags, VT_BSTR);
  if (SUCCEEDED(hr)) *text = textOf(V_BSTR(&out));
  return hr;
}

TEST(ChangeType, TextToInt32FollowsTheStrictIntegerRules) {
  struct Case {
    const OLECHAR *text;
    HRESULT hr;
    LONG value;
  } cases[] = {
      {OLESTR("2.5"), S_OK, 2},           {OLESTR("3.5"), S_OK, 4},
      {OLESTR("-2.5"), S_OK, -2},         {OLESTR("2.51"), S_OK, 3},
      {OLESTR(" 7 "), S_OK, 7},           {OLESTR("\t7\r\n"), S_OK, 7},
      {OLESTR("0.5"), S_OK, 0},           {OLESTR("1.5"), S_OK, 2},
      {OLESTR("2.500000000000000000000001"), S_OK, 3},
      {OLESTR("-2147483648"), S_OK, INT32_MIN},
      {OLESTR("2147483646.5"), S_OK, 2147483646},
      {OLESTR("1,000"), S_OK, 1000},      {OLESTR("1,000,000"), S_OK, 1000000},
      {OLESTR("1,234.5"), S_OK, 1234},    {OLESTR("$5"), S_OK, 5},
      {OLESTR("1e3"), S_OK, 1000},        {OLESTR("1.5e1"), S_OK, 15},
      {OLESTR("25e-1"), S_OK, 2},         {OLESTR("1E+2"), S_OK, 100},
      {OLESTR("&H10"), S_OK, 16},         {OLESTR("&HFFFFFFFF"), S_OK, -1},
      {OLESTR("&o17"), S_OK, 15},         {OLESTR("(5)"), S_OK, -5},
      {OLESTR("5-"), S_OK, -5},           {OLESTR("+5"), S_OK, 5},
      {OLESTR("- 5"), S_OK, -5},          {OLESTR("007"), S_OK, 7},
      {OLESTR("abc"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR(""), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("  "), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("-"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("--5"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("1 2"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("0x10"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR(",5"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("1e"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("&H"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("True"), DISP_E_TYPEMISMATCH, 0},
      {OLESTR("3000000000"), DISP_E_OVERFLOW, 0},
      {OLESTR("2147483647.5"), DISP_E_OVERFLOW, 0},
      {OLESTR("99999999999999999999"), DISP_E_OVERFLOW, 0},
      {OLESTR("1e400"), DISP_E_OVERFLOW, 0},
  };
  for (const Case &c : cases) {
    Variant out;
    SCOPED_TRACE(testing::PrintToString(std::string(c.text, c.text + OleString(c.text).size())));
    EXPECT_EQ(fromText(c.text, VT_I4, &out), c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(V_VT(&out), VT_I4);
      EXPECT_EQ(V_I4(&out), c.value);
    } else {
      EXPECT_EQ(V_VT(&out), VT_EMPTY);
    }
    LONG direct = 0;
    EXPECT_EQ(VarI4FromStr(const_cast<OLECHAR *>(c.text), kEnglishUs, 0, &direct), c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(direct, c.value);
    }
  }
}

TEST(ChangeType, TextToOtherNumbers) {
  Variant out;
  EXPECT_EQ(fromText(OLESTR("&HFFFF"), VT_I2, &out), S_OK);
  EXPECT_EQ(V_I2(&out), -1);
  EXPECT_EQ(fromText(OLESTR("&HFFFF"), VT_I4, &out), S_OK);
  EXPECT_EQ(V_I4(&out), 65535);
  EXPECT_EQ(fromText(OLESTR("&H1FFFF"), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(fromText(OLESTR("256"), VT_UI1, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(fromText(OLESTR("255.5"), VT_UI1, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(fromText(OLESTR("-0.5"), VT_UI1, &out), S_OK);
  EXPECT_EQ(V_UI1(&out), 0);
  EXPECT_EQ(fromText(OLESTR("-0.6"), VT_UI1, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(fromText(OLESTR("9223372036854775807"), VT_I8, &out), S_OK);
  EXPECT_EQ(V_I8(&out), INT64_MAX);
  EXPECT_EQ(fromText(OLESTR("9223372036854775808"), VT_I8, &out), DISP_E_OVERFLOW);

  EXPECT_EQ(fromText(OLESTR("1.5"), VT_R8, &out), S_OK);
  EXPECT_EQ(V_R8(&out), 1.5);
  EXPECT_EQ(fromText(OLESTR("$1.5"), VT_R8, &out), S_OK);
  EXPECT_EQ(V_R8(&out), 1.5);
  EXPECT_EQ(fromText(OLESTR("1,5"), VT_R8, &out), S_OK);
  EXPECT_EQ(V_R8(&out), 15.0);
  EXPECT_EQ(fromText(OLESTR("1e309"), VT_R8, &out), DISP_E_OVERFLOW);

  EXPECT_EQ(fromText(OLESTR("1.23456"), VT_CY, &out), S_OK);
  EXPECT_EQ(V_CY(&out).int64, 12346);
  EXPECT_EQ(fromText(OLESTR("12.5"), VT_DECIMAL, &out), S_OK);
  EXPECT_EQ(V_DECIMAL(&out).scale, 1);
  EXPECT_EQ(V_DECIMAL(&out).Lo64, 125u);

  struct BoolCase {
    const OLECHAR *text;
    HRESULT hr;
    VARIANT_BOOL value;
  } bools[] = {{OLESTR("True"), S_OK, VARIANT_TRUE},   {OLESTR("false"), S_OK, VARIANT_FALSE},
               {OLESTR("#TRUE#"), S_OK, VARIANT_TRUE}, {OLESTR("0"), S_OK, VARIANT_FALSE},
               {OLESTR("0.1"), S_OK, VARIANT_TRUE},    {OLESTR(" True "), DISP_E_TYPEMISMATCH, 0},
               {OLESTR("Yes"), DISP_E_TYPEMISMATCH, 0}, {OLESTR(""), DISP_E_TYPEMISMATCH, 0}};
  for (const BoolCase &c : bools) {
    EXPECT_EQ(fromText(c.text, VT_BOOL, &out), c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(V_BOOL(&out), c.value);
    }
  }
}

TEST(ChangeType, NumbersToText) {
  Variant v;
  OleString text;
  V_VT(&v) = VT_I4;
  V_I4(&v) = -12345;
  EXPECT_EQ(toText(&v, &text), S_OK);
  EXPECT_EQ(text, OLESTR("-12345"));

  struct RealCase {
    double value;
    const OLECHAR *text;
  } reals[] = {{1.5, OLESTR("1.5")},
               {0.1, OLESTR("0.1")},
               {1e20, OLESTR("1E+20")},
               {1e15, OLESTR("1E+15")},
               {1e-5, OLESTR("1E-05")},
               {0.0001, OLESTR("0.0001")},
               {100, OLESTR("100")},
               {-0.0, OLESTR("0")},
               {1.0 / 3, OLESTR("0.333333333333333")},
               {123456789012345678.0, OLESTR("1.23456789012346E+17")},
               {12345678901234.5, OLESTR("12345678901234.5")}};
  for (const RealCase &c : reals) {
    V_VT(&v) = VT_R8;
    V_R8(&v) = c.value;
    EXPECT_EQ(toText(&v, &text), S_OK);
    EXPECT_EQ(text, c.text) << c.value;
  }
  V_VT(&v) = VT_R4;
  V_R4(&v) = 1.0f / 3;
  EXPECT_EQ(toText(&v, &text), S_OK);
  EXPECT_EQ(text, OLESTR("0.3333333"));

  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = VARIANT_TRUE;
  EXPECT_EQ(toText(&v, &text), S_OK);
  EXPECT_EQ(text, OLESTR("-1"));
  EXPECT_EQ(toText(&v, &text, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(text, OLESTR("True"));
  V_BOOL(&v) = VARIANT_FALSE;
  EXPECT_EQ(toText(&v, &text, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(text, OLESTR("False"));

  V_VT(&v) = VT_CY;
  V_CY(&v).int64 = 12345678;
  EXPECT_EQ(toText(&v, &text), S_OK);
  EXPECT_EQ(text, OLESTR("1234.5678"));
  V_CY(&v).int64 = -5;
  EXPECT_EQ(toText(&v, &text), S_OK);
  EXPECT_EQ(text, OLESTR("-0.0005"));

  struct DateCase {
    double value;
    const OLECHAR *text;
  } dates[] = {{0, OLESTR("12:00:00 AM")},
               {1, OLESTR("12/31/1899")},
               {1.5, OLESTR("12/31/1899 12:00:00 PM")},
               {0.25, OLESTR("6:00:00 AM")},
               {-1.5, OLESTR("12/29/1899 12:00:00 PM")},
               {36526.75, OLESTR("1/1/2000 6:00:00 PM")},
               {36526.0000001, OLESTR("1/1/2000 12:00:00 AM")}};
  for (const DateCase &c : dates) {
    V_VT(&v) = VT_DATE;
    V_DATE(&v) = c.value;
    EXPECT_EQ(toText(&v, &text), S_OK);
    EXPECT_EQ(text, c.text) << c.value;
  }

  V_VT(&v) = VT_EMPTY;
  EXPECT_EQ(toText(&v, &text), S_OK);
  EXPECT_EQ(text, OLESTR(""));
  V_VT(&v) = VT_NULL;
  EXPECT_EQ(toText(&v, &text), DISP_E_TYPEMISMATCH);
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = 5;
  EXPECT_EQ(toText(&v, &text), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, TextToDate) {
  Variant out;
  EXPECT_EQ(fromText(OLESTR("1/2/2000"), VT_DATE, &out), S_OK);
  EXPECT_EQ(V_DATE(&out), 36527.0);
  EXPECT_EQ(fromText(OLESTR("2000-01-02"), VT_DATE, &out), S_OK);
  EXPECT_EQ(V_DATE(&out), 36527.0);
  EXPECT_EQ(fromText(OLESTR("12:00"), VT_DATE, &out), S_OK);
  EXPECT_EQ(V_DATE(&out), 0.5);
  EXPECT_EQ(fromText(OLESTR("1/2/2000 1:02:03 PM"), VT_DATE, &out), S_OK);
  EXPECT_NEAR(V_DATE(&out), 36527.0 + (13 * 3600 + 2 * 60 + 3) / 86400.0, 1e-9);
  EXPECT_EQ(fromText(OLESTR("not a date"), VT_DATE, &out), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, NumericConversionsRoundAndCheckRange) {
  struct RealCase {
    double value;
    HRESULT hr;
    LONG result;
  } reals[] = {{2.5, S_OK, 2},          {3.5, S_OK, 4},
               {-2.5, S_OK, -2},        {-3.5, S_OK, -4},
               {0.5, S_OK, 0},          {2147483647.49, S_OK, INT32_MAX},
               {-2147483648.5, S_OK, INT32_MIN}, {2147483647.5, DISP_E_OVERFLOW, 0},
               {1e300, DISP_E_OVERFLOW, 0}};
  for (const RealCase &c : reals) {
    Variant in, out;
    V_VT(&in) = VT_R8;
    V_R8(&in) = c.value;
    EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), c.hr) << c.value;
    if (c.hr == S_OK) {
      EXPECT_EQ(V_I4(&out), c.result) << c.value;
    }
  }

  Variant in, out;
  V_VT(&in) = VT_I4;
  V_I4(&in) = 256;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_UI1), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I1), DISP_E_OVERFLOW);
  V_I4(&in) = -1;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_UI2), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_UI8), DISP_E_OVERFLOW);
  // Between signed and unsigned types of one size the bits are kept.
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_UI4), S_OK);
  EXPECT_EQ(V_UI4(&out), 0xFFFFFFFFu);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_R8), S_OK);
  EXPECT_EQ(V_R8(&out), -1.0);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_BOOL), S_OK);
  EXPECT_EQ(V_BOOL(&out), VARIANT_TRUE);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_CY), S_OK);
  EXPECT_EQ(V_CY(&out).int64, -10000);

  V_VT(&in) = VT_BOOL;
  V_BOOL(&in) = VARIANT_TRUE;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&out), -1);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_UI1), S_OK);
  EXPECT_EQ(V_UI1(&out), 255);

  V_VT(&in) = VT_CY;
  V_CY(&in).int64 = 25000;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&out), 2);
  V_CY(&in).int64 = 35000;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&out), 4);

  V_VT(&in) = VT_R8;
  V_R8(&in) = -1.25;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_DECIMAL), S_OK);
  EXPECT_EQ(V_VT(&out), VT_DECIMAL);
  EXPECT_EQ(V_DECIMAL(&out).scale, 2);
  EXPECT_EQ(V_DECIMAL(&out).sign, DECIMAL_NEG);
  EXPECT_EQ(V_DECIMAL(&out).Lo64, 125u);
  Variant back;
  EXPECT_EQ(VariantChangeType(&back, &out, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&back), -1);

  V_R8(&in) = 1e300;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_R4), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_CY), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_DATE), DISP_E_OVERFLOW);
  V_R8(&in) = -657434;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_DATE), S_OK);
  V_R8(&in) = 2958466;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_DATE), DISP_E_OVERFLOW);
}

TEST(ChangeType, EmptyNullAndInvalidTypes) {
  Variant empty, out;
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_I4), S_OK);
  EXPECT_EQ(V_VT(&out), VT_I4);
  EXPECT_EQ(V_I4(&out), 0);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_R8), S_OK);
  EXPECT_EQ(V_R8(&out), 0.0);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_BOOL), S_OK);
  EXPECT_EQ(V_BOOL(&out), VARIANT_FALSE);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_NULL), S_OK);
  EXPECT_EQ(V_VT(&out), VT_NULL);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_ERROR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_VARIANT), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_I4 | VT_BYREF), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, 15), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&out, &empty, 0, 99), DISP_E_BADVARTYPE);

  Variant null;
  V_VT(&null) = VT_NULL;
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_BOOL), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_EMPTY), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_NULL), S_OK);

  VARIANT bad;
  V_VT(&bad) = 99;
  EXPECT_EQ(VariantChangeType(&out, &bad, 0, VT_I4), DISP_E_BADVARTYPE);
}

TEST(ChangeType, FailureLeavesDestinationAndWorksInPlace) {
  Variant in, out;
  Variant::text(&in, OLESTR("zz"));
  V_VT(&out) = VT_I4;
  V_I4(&out) = 5;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(V_VT(&out), VT_I4);
  EXPECT_EQ(V_I4(&out), 5);
  EXPECT_EQ(VariantChangeType(&in, &in, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(V_VT(&in), VT_BSTR);

  VariantClear(&in);
  Variant::text(&in, OLESTR(" 42 "));
  EXPECT_EQ(VariantChangeType(&in, &in, 0, VT_I4), S_OK);
  EXPECT_EQ(V_VT(&in), VT_I4);
  EXPECT_EQ(V_I4(&in), 42);

  // References are followed.
  LONG target = 9;
  VARIANT reference;
  V_VT(&reference) = VT_I4 | VT_BYREF;
  V_I4REF(&reference) = &target;
  EXPECT_EQ(VariantChangeType(&out, &reference, 0, VT_R8), S_OK);
  EXPECT_EQ(V_R8(&out), 9.0);
  Variant text;
  Variant::text(&text, OLESTR("abc"));
  VARIANT variantReference;
  V_VT(&variantReference) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&variantReference) = &text;
  EXPECT_EQ(VariantChangeType(&out, &variantReference, 0, VT_BSTR), S_OK);
  EXPECT_EQ(textOf(V_BSTR(&out)), OLESTR("abc"));
  EXPECT_EQ(VariantChangeType(&out, &variantReference, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, TextAndByteArrayKeepEveryByte) {
  Variant text, bytes, back;
  V_VT(&text) = VT_BSTR;
  const char raw[] = {'\x01', '\x00', '\xFF', '\x7F', '\x80'};
  V_BSTR(&text) = SysAllocStringByteLen(raw, 5);
  ASSERT_EQ(VariantChangeType(&bytes, &text, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(V_VT(&bytes), VT_ARRAY | VT_UI1);
  SAFEARRAY *array = V_ARRAY(&bytes);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayGetDim(array), 1u);
  EXPECT_EQ(array->fFeatures, FADF_HAVEVARTYPE);
  LONG low = -1, high = -1;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &low), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 4);
  EXPECT_EQ(memcmp(array->pvData, raw, 5), 0);

  ASSERT_EQ(VariantChangeType(&back, &bytes, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringByteLen(V_BSTR(&back)), 5u);
  EXPECT_EQ(SysStringLen(V_BSTR(&back)), 2u);
  EXPECT_EQ(memcmp(V_BSTR(&back), raw, 5), 0);

  // A null string is an empty array.
  Variant none, noBytes;
  V_VT(&none) = VT_BSTR;
  V_BSTR(&none) = nullptr;
  ASSERT_EQ(VariantChangeType(&noBytes, &none, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(V_ARRAY(&noBytes)->rgsabound[0].cElements, 0u);

  // Only one-dimensional byte arrays become text.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  Variant square, out;
  V_VT(&square) = VT_ARRAY | VT_UI1;
  V_ARRAY(&square) = SafeArrayCreate(VT_UI1, 2, bounds);
  EXPECT_EQ(VariantChangeType(&out, &square, 0, VT_BSTR), E_INVALIDARG);
  Variant longs;
  V_VT(&longs) = VT_ARRAY | VT_I4;
  V_ARRAY(&longs) = SafeArrayCreateVector(VT_I4, 0, 2);
  EXPECT_EQ(VariantChangeType(&out, &longs, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &longs, 0, VT_ARRAY | VT_I2), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &longs, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &longs, 0, VT_ARRAY | VT_I4), S_OK);
  EXPECT_NE(V_ARRAY(&out), V_ARRAY(&longs));
}

TEST(ChangeType, ObjectsConvertThroughTheirValueProperty) {
  CountingDispatch object(42);
  {
    Variant in, out;
    V_VT(&in) = VT_DISPATCH;
    V_DISPATCH(&in) = &object;
    object.AddRef();
    EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK);
    EXPECT_EQ(textOf(V_BSTR(&out)), OLESTR("42"));
    EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_R8), S_OK);
    EXPECT_EQ(V_R8(&out), 42.0);
    EXPECT_EQ(VariantChangeType(&out, &in, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(V_VT(&out), VT_UNKNOWN);
    EXPECT_EQ(object.references(), 3u);
    Variant back;
    EXPECT_EQ(VariantChangeType(&back, &out, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(V_DISPATCH(&back), static_cast<IDispatch *>(&object));
    EXPECT_EQ(VariantChangeType(&back, &out, 0, VT_I4), DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(object.references(), 1u);

  Variant none, out;
  V_VT(&none) = VT_DISPATCH;
  V_DISPATCH(&none) = nullptr;
  EXPECT_EQ(VariantChangeType(&out, &none, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(V_UNKNOWN(&out), nullptr);
  EXPECT_EQ(VariantChangeType(&out, &none, 0, VT_I4), DISP_E_BADVARTYPE);
}

}  // namespace
