#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "OleautTestSupport.h"

namespace {

const LCID kEnglishUs = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

// One side of a conversion: integers, booleans and currency (in 1/10000) in
// `integer`, reals and dates in `real`, a decimal as its signed mantissa
// and scale.
struct Value {
  VARTYPE vt;
  LONGLONG integer;
  double real;
  const OLECHAR *text;
  BYTE scale;
};
Value num(VARTYPE vt, LONGLONG n = 0) { return {vt, n, 0, nullptr, 0}; }
Value i4(LONG n = 0) { return num(VT_I4, n); }
Value real(VARTYPE vt, double r) { return {vt, 0, r, nullptr, 0}; }
Value str(const OLECHAR *s) { return {VT_BSTR, 0, 0, s, 0}; }
Value dec(LONGLONG mantissa, BYTE scale) { return {VT_DECIMAL, mantissa, 0, nullptr, scale}; }

void build(const Value &value, VARIANT *out) {
  if (value.vt == VT_DECIMAL) {
    DECIMAL d = {};
    d.scale = value.scale;
    d.sign = value.integer < 0 ? DECIMAL_NEG : 0;
    d.Lo64 = ULONGLONG(llabs(value.integer));
    V_DECIMAL(out) = d;
  } else if (value.vt == VT_BSTR) {
    V_BSTR(out) = SysAllocString(value.text);
  } else if (value.vt == VT_R4) {
    V_R4(out) = FLOAT(value.real);
  } else if (value.vt == VT_R8 || value.vt == VT_DATE) {
    V_R8(out) = value.real;
  } else {
    V_I8(out) = value.integer;  // every integer width and currency start here (little-endian)
  }
  V_VT(out) = value.vt;  // last: a decimal overlays the type tag
}

LONGLONG integerOf(const VARIANT *v) {
  switch (V_VT(v)) {
    case VT_I1: return static_cast<signed char>(V_I1(v));
    case VT_UI1: return V_UI1(v);
    case VT_I2:
    case VT_BOOL: return V_I2(v);
    case VT_UI2: return V_UI2(v);
    case VT_I4: return V_I4(v);
    case VT_UI4: return V_UI4(v);
    default: return V_I8(v);
  }
}

std::string ascii(const OLECHAR *text) { return text ? std::string(text, text + OleString(text).size()) : ""; }

struct Conversion {
  Value from;
  HRESULT hr;
  Value to;
  USHORT flags = 0;
};

#define S(text) str(OLESTR(text))
const Conversion kConversions[] = {
    // Each integer width's edges; between signed and unsigned types of one size the bits are kept.
    {i4(-128), S_OK, num(VT_I1, -128)},
    {i4(128), DISP_E_OVERFLOW, num(VT_I1)},
    {i4(255), S_OK, num(VT_UI1, 255)},
    {i4(256), DISP_E_OVERFLOW, num(VT_UI1)},
    {i4(-1), DISP_E_OVERFLOW, num(VT_UI1)},
    {i4(-32768), S_OK, num(VT_I2, -32768)},
    {i4(32768), DISP_E_OVERFLOW, num(VT_I2)},
    {i4(65535), S_OK, num(VT_UI2, 65535)},
    {i4(-1), DISP_E_OVERFLOW, num(VT_UI2)},
    {num(VT_I8, INT32_MIN), S_OK, i4(INT32_MIN)},
    {num(VT_I8, 2147483648LL), DISP_E_OVERFLOW, i4()},
    {num(VT_I8, 4294967295LL), S_OK, num(VT_UI4, 4294967295LL)},
    {i4(-1), S_OK, num(VT_UI4, 0xFFFFFFFF)},
    {num(VT_I8, 4294967296LL), DISP_E_OVERFLOW, num(VT_UI4)},
    {i4(-1), DISP_E_OVERFLOW, num(VT_UI8)},
    {S("9223372036854775807"), S_OK, num(VT_I8, INT64_MAX)},
    {S("9223372036854775808"), DISP_E_OVERFLOW, num(VT_I8)},
    {S("-2147483648"), S_OK, i4(INT32_MIN)},
    // Plain digits, with a minus sign or none, on either side of 18 digits.
    {S("0"), S_OK, i4(0)},
    {S("-0"), S_OK, i4(0)},
    {S("007"), S_OK, i4(7)},
    {S("-12"), S_OK, i4(-12)},
    {S("123456789012345678"), S_OK, num(VT_I8, 123456789012345678LL)},
    {S("-1234567890123456789"), S_OK, num(VT_I8, -1234567890123456789LL)},
    {S("-"), DISP_E_TYPEMISMATCH, i4()},
    {S(""), DISP_E_TYPEMISMATCH, i4()},
    {S("12a"), DISP_E_TYPEMISMATCH, i4()},
    {S("3000000000"), DISP_E_OVERFLOW, i4()},
    {S("1e400"), DISP_E_OVERFLOW, i4()},
    {S("&HFFFF"), S_OK, num(VT_I2, -1)},
    {S("&HFFFF"), S_OK, i4(65535)},
    {S("&HFFFFFFFF"), S_OK, i4(-1)},
    {S("&H1FFFF"), DISP_E_OVERFLOW, num(VT_I2)},
    // Fractions round to the nearest integer, halves to even.
    {real(VT_R8, 2.5), S_OK, i4(2)},
    {real(VT_R8, 3.5), S_OK, i4(4)},
    {real(VT_R8, -2.5), S_OK, i4(-2)},
    {real(VT_R8, 2147483647.49), S_OK, i4(INT32_MAX)},
    {real(VT_R8, -2147483648.5), S_OK, i4(INT32_MIN)},
    {real(VT_R8, 2147483647.5), DISP_E_OVERFLOW, i4()},
    {real(VT_R8, 1e300), DISP_E_OVERFLOW, i4()},
    {num(VT_CY, 25000), S_OK, i4(2)},
    {num(VT_CY, 35000), S_OK, i4(4)},
    {dec(-125, 2), S_OK, i4(-1)},
    // A decimal of more than 28 places is no decimal at all.
    {dec(5, 29), E_INVALIDARG, i4()},
    {dec(5, 255), E_INVALIDARG, real(VT_R8, 0)},
    {S("2.5"), S_OK, i4(2)},
    {S("3.5"), S_OK, i4(4)},
    {S("2.51"), S_OK, i4(3)},
    {S("2.500000000000000000000001"), S_OK, i4(3)},
    {S("2147483646.5"), S_OK, i4(2147483646)},
    {S("2147483647.5"), DISP_E_OVERFLOW, i4()},
    {S("255.5"), DISP_E_OVERFLOW, num(VT_UI1)},
    {S("-0.5"), S_OK, num(VT_UI1, 0)},
    {S("-0.6"), DISP_E_OVERFLOW, num(VT_UI1)},
    // Text in the locale-neutral forms, and what is not a number.
    {S("\t7\r\n"), S_OK, i4(7)},
    {S("1,234.5"), S_OK, i4(1234)},
    {S("$5"), S_OK, i4(5)},
    {S("1e3"), S_OK, i4(1000)},
    {S("25e-1"), S_OK, i4(2)},
    {S("1E+2"), S_OK, i4(100)},
    {S("&o17"), S_OK, i4(15)},
    {S("&H10"), S_OK, i4(16)},
    {S("(5)"), S_OK, i4(-5)},
    {S("5-"), S_OK, i4(-5)},
    {S("- 5"), S_OK, i4(-5)},
    {S("1,5"), S_OK, real(VT_R8, 15)},
    {S("1e309"), DISP_E_OVERFLOW, num(VT_R8)},
    {S("abc"), DISP_E_TYPEMISMATCH, i4()},
    {S(""), DISP_E_TYPEMISMATCH, i4()},
    {S("-"), DISP_E_TYPEMISMATCH, i4()},
    {S("--5"), DISP_E_TYPEMISMATCH, i4()},
    {S("1 2"), DISP_E_TYPEMISMATCH, i4()},
    {S("0x10"), DISP_E_TYPEMISMATCH, i4()},
    {S(",5"), DISP_E_TYPEMISMATCH, i4()},
    {S("1e"), DISP_E_TYPEMISMATCH, i4()},
    {S("&H"), DISP_E_TYPEMISMATCH, i4()},
    {S("True"), DISP_E_TYPEMISMATCH, i4()},
    // Booleans: true is -1 in every integer width, and has names in text.
    {S("True"), S_OK, num(VT_BOOL, VARIANT_TRUE)},
    {S("false"), S_OK, num(VT_BOOL, VARIANT_FALSE)},
    {S("#TRUE#"), S_OK, num(VT_BOOL, VARIANT_TRUE)},
    {S("0"), S_OK, num(VT_BOOL, VARIANT_FALSE)},
    {S("0.1"), S_OK, num(VT_BOOL, VARIANT_TRUE)},
    {S(" True "), DISP_E_TYPEMISMATCH, num(VT_BOOL)},
    {S("Yes"), DISP_E_TYPEMISMATCH, num(VT_BOOL)},
    {S(""), DISP_E_TYPEMISMATCH, num(VT_BOOL)},
    {num(VT_BOOL, VARIANT_TRUE), S_OK, i4(-1)},
    {num(VT_BOOL, VARIANT_TRUE), S_OK, num(VT_UI1, 255)},
    {i4(-1), S_OK, num(VT_BOOL, VARIANT_TRUE)},
    {num(VT_BOOL, VARIANT_TRUE), S_OK, S("-1")},
    {num(VT_BOOL, VARIANT_TRUE), S_OK, S("True"), VARIANT_ALPHABOOL},
    {num(VT_BOOL, VARIANT_FALSE), S_OK, S("False"), VARIANT_ALPHABOOL},
    // Dates: 1 January 100 to 31 December 9999; text shows only the parts present.
    {real(VT_R8, -657434), S_OK, real(VT_DATE, -657434)},
    {real(VT_R8, 2958466), DISP_E_OVERFLOW, num(VT_DATE)},
    {real(VT_R8, 1e300), DISP_E_OVERFLOW, num(VT_DATE)},
    {S("1/2/2000"), S_OK, real(VT_DATE, 36527)},
    {S("2000-01-02"), S_OK, real(VT_DATE, 36527)},
    {S("12:00"), S_OK, real(VT_DATE, 0.5)},
    {S("1/2/2000 1:02:03 PM"), S_OK, real(VT_DATE, 36527 + 46923 / 86400.0)},
    {S("not a date"), DISP_E_TYPEMISMATCH, num(VT_DATE)},
    {real(VT_DATE, 0), S_OK, S("12:00:00 AM")},
    {real(VT_DATE, 1), S_OK, S("12/31/1899")},
    {real(VT_DATE, -1.5), S_OK, S("12/29/1899 12:00:00 PM")},
    {real(VT_DATE, 36526.75), S_OK, S("1/1/2000 6:00:00 PM")},
    {real(VT_DATE, 36526.0000001), S_OK, S("1/1/2000 12:00:00 AM")},
    // Currency has four decimals; reals as text have 15 significant digits (7 for singles), then exponents.
    {S("1.23456"), S_OK, num(VT_CY, 12346)},
    {i4(-1), S_OK, num(VT_CY, -10000)},
    {real(VT_R8, 1e300), DISP_E_OVERFLOW, num(VT_CY)},
    {num(VT_CY, 12345678), S_OK, S("1234.5678")},
    {num(VT_CY, -5), S_OK, S("-0.0005")},
    {real(VT_R8, 1e15), S_OK, S("1E+15")},
    {real(VT_R8, 1e-5), S_OK, S("1E-05")},
    {real(VT_R8, 0.0001), S_OK, S("0.0001")},
    {real(VT_R8, -0.0), S_OK, S("0")},
    {i4(-12345), S_OK, S("-12345")},
    {real(VT_R8, 1.0 / 3), S_OK, S("0.333333333333333")},
    {real(VT_R4, 1.0 / 3), S_OK, S("0.3333333")},
    {real(VT_R8, 123456789012345678.0), S_OK, S("1.23456789012346E+17")},
    {real(VT_R8, 12345678901234.5), S_OK, S("12345678901234.5")},
    {real(VT_R8, 1e300), DISP_E_OVERFLOW, num(VT_R4)},
    {S("12.5"), S_OK, dec(125, 1)},
    {real(VT_R8, -1.25), S_OK, dec(-125, 2)},
    // Empty, null, errors, and types nothing converts to.
    {num(VT_EMPTY), S_OK, i4(0)},
    {num(VT_EMPTY), S_OK, S("")},
    {num(VT_EMPTY), S_OK, num(VT_BOOL, 0)},
    {num(VT_EMPTY), S_OK, num(VT_NULL)},
    {num(VT_NULL), S_OK, num(VT_NULL)},
    {num(VT_EMPTY), DISP_E_TYPEMISMATCH, num(VT_DISPATCH)},
    {num(VT_EMPTY), DISP_E_TYPEMISMATCH, num(VT_ERROR)},
    {num(VT_EMPTY), DISP_E_TYPEMISMATCH, num(VT_VARIANT)},
    {num(VT_EMPTY), DISP_E_TYPEMISMATCH, num(VT_I4 | VT_BYREF)},
    {num(VT_NULL), DISP_E_TYPEMISMATCH, i4()},
    {num(VT_NULL), DISP_E_TYPEMISMATCH, num(VT_BSTR)},
    {num(VT_NULL), DISP_E_TYPEMISMATCH, num(VT_EMPTY)},
    {num(VT_ERROR, 5), DISP_E_TYPEMISMATCH, num(VT_BSTR)},
    {num(VT_EMPTY), DISP_E_BADVARTYPE, num(15)},
    {num(VT_EMPTY), DISP_E_BADVARTYPE, num(99)},
    {num(99), DISP_E_BADVARTYPE, i4()},
};
#undef S

// Every row converts the value itself and, with the same answer, the value
// behind a VT_VARIANT reference; a failure leaves the destination as it was.
TEST(ChangeType, ConversionTable) {
  for (const Conversion &row : kConversions) {
    SCOPED_TRACE(testing::Message() << "vt " << row.from.vt << " '" << ascii(row.from.text) << "' " << row.from.integer
                                    << " " << row.from.real << " to vt " << row.to.vt);
    Variant in;
    build(row.from, &in);
    VARIANT reference;
    V_VT(&reference) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&reference) = &in;
    for (VARIANT *source : {&in, &reference}) {
      Variant out;
      V_VT(&out) = VT_ERROR;
      V_ERROR(&out) = 7;
      HRESULT hr = VariantChangeTypeEx(&out, source, kEnglishUs, row.flags, row.to.vt);
      EXPECT_EQ(hr, row.hr) << (source == &reference ? "by reference" : "");
      if (hr != S_OK) {
        EXPECT_TRUE(V_VT(&out) == VT_ERROR && V_ERROR(&out) == 7);
      }
      if (hr != S_OK || row.hr != S_OK) continue;
      EXPECT_EQ(V_VT(&out), row.to.vt);
      switch (row.to.vt) {
        case VT_EMPTY:
        case VT_NULL: break;
        case VT_BSTR: EXPECT_EQ(textOf(V_BSTR(&out)), OleString(row.to.text)); break;
        case VT_R4: EXPECT_EQ(V_R4(&out), FLOAT(row.to.real)); break;
        case VT_R8: EXPECT_EQ(V_R8(&out), row.to.real); break;
        case VT_DATE: EXPECT_NEAR(V_DATE(&out), row.to.real, 1e-9); break;
        case VT_DECIMAL:
          EXPECT_EQ(V_DECIMAL(&out).scale, row.to.scale);
          EXPECT_EQ(V_DECIMAL(&out).sign, row.to.integer < 0 ? DECIMAL_NEG : 0);
          EXPECT_EQ(V_DECIMAL(&out).Hi32, 0u);
          EXPECT_EQ(V_DECIMAL(&out).Lo64, ULONGLONG(llabs(row.to.integer)));
          break;
        default: EXPECT_EQ(integerOf(&out), row.to.integer);
      }
    }
  }
}

TEST(ChangeType, TypedReferencesAndConversionInPlace) {
  LONG target = 9;
  VARIANT reference;
  V_VT(&reference) = VT_I4 | VT_BYREF;
  V_I4REF(&reference) = &target;
  Variant out, in;
  ASSERT_EQ(VariantChangeType(&out, &reference, 0, VT_R8), S_OK);
  EXPECT_EQ(V_R8(&out), 9.0);

  putText(&in, OLESTR("zz"));
  EXPECT_EQ(VariantChangeType(&in, &in, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(textOf(V_BSTR(&in)), OLESTR("zz"));
  VariantClear(&in);
  putText(&in, OLESTR(" 42 "));
  ASSERT_EQ(VariantChangeType(&in, &in, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&in), 42);
}

TEST(ChangeType, TextAndByteArrayKeepEveryByte) {
  Variant text, bytes, back;
  const char raw[] = {'\x01', '\x00', '\xFF', '\x7F', '\x80'};
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocStringByteLen(raw, 5);
  ASSERT_EQ(VariantChangeType(&bytes, &text, 0, VT_ARRAY | VT_UI1), S_OK);
  SAFEARRAY *array = V_ARRAY(&bytes);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->fFeatures, FADF_HAVEVARTYPE);
  EXPECT_EQ(array->rgsabound[0].lLbound, 0);
  EXPECT_EQ(array->rgsabound[0].cElements, 5u);
  EXPECT_EQ(memcmp(array->pvData, raw, 5), 0);
  ASSERT_EQ(VariantChangeType(&back, &bytes, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringByteLen(V_BSTR(&back)), 5u);
  EXPECT_EQ(memcmp(V_BSTR(&back), raw, 5), 0);

  // A null string is an empty array.
  Variant none, noBytes;
  putText(&none, nullptr);
  ASSERT_EQ(VariantChangeType(&noBytes, &none, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(V_ARRAY(&noBytes)->rgsabound[0].cElements, 0u);

  // Only one-dimensional byte arrays become text.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  Variant square, longs, out;
  V_VT(&square) = VT_ARRAY | VT_UI1;
  V_ARRAY(&square) = SafeArrayCreate(VT_UI1, 2, bounds);
  EXPECT_EQ(VariantChangeType(&out, &square, 0, VT_BSTR), E_INVALIDARG);
  V_VT(&longs) = VT_ARRAY | VT_I4;
  V_ARRAY(&longs) = SafeArrayCreateVector(VT_I4, 0, 2);
  EXPECT_EQ(VariantChangeType(&out, &longs, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &longs, 0, VT_ARRAY | VT_I2), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, ObjectsConvertThroughTheirValueProperty) {
  CountingDispatch object(42);
  {
    Variant in, out, back;
    V_VT(&in) = VT_DISPATCH;
    V_DISPATCH(&in) = &object;
    object.AddRef();
    ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK);
    EXPECT_EQ(textOf(V_BSTR(&out)), OLESTR("42"));
    EXPECT_EQ(VariantChangeType(&out, &in, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(object.references(), 3u);
    ASSERT_EQ(VariantChangeType(&back, &out, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(V_DISPATCH(&back), static_cast<IDispatch *>(&object));
    EXPECT_EQ(VariantChangeType(&back, &out, 0, VT_I4), DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(object.references(), 1u);

  Variant none, out;
  V_VT(&none) = VT_DISPATCH;
  V_DISPATCH(&none) = nullptr;
  ASSERT_EQ(VariantChangeType(&out, &none, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(V_UNKNOWN(&out), nullptr);
  EXPECT_EQ(VariantChangeType(&out, &none, 0, VT_I4), DISP_E_BADVARTYPE);
}

}  // namespace
