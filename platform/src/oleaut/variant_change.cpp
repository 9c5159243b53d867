// Variant type conversion, as IDispatch::Invoke uses it to coerce arguments.
// Numbers keep their value or fail: integers are range-checked, fractions
// round to the nearest integer with halves to even. Between the signed and
// unsigned integer types of one size the bits are kept, as OLE Automation
// does; a boolean converts to integers as the 16-bit value -1 or 0.
#include <oleauto.h>

#include <float.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "oleaut/number_text.h"
#include "oleaut/variant_types.h"

using namespace oleaut;

namespace {

struct IntegerType {
  int bits;
  bool isSigned;
};

bool integerType(VARTYPE vt, IntegerType *type) {
  switch (vt) {
    case VT_I1: *type = {8, true}; return true;
    case VT_UI1: *type = {8, false}; return true;
    case VT_I2: *type = {16, true}; return true;
    case VT_UI2: *type = {16, false}; return true;
    case VT_I4:
    case VT_INT: *type = {32, true}; return true;
    case VT_UI4:
    case VT_UINT: *type = {32, false}; return true;
    case VT_I8: *type = {64, true}; return true;
    case VT_UI8: *type = {64, false}; return true;
    default: return false;
  }
}

__int128 minimumOf(IntegerType type) { return type.isSigned ? -(__int128(1) << (type.bits - 1)) : 0; }

__int128 maximumOf(IntegerType type) {
  return type.isSigned ? (__int128(1) << (type.bits - 1)) - 1 : (__int128(1) << type.bits) - 1;
}

// The low `bits` bits of a value, read with the target's signedness.
__int128 truncated(__int128 value, IntegerType type) {
  unsigned __int128 mask = (((unsigned __int128)1) << type.bits) - 1;
  unsigned __int128 low = (unsigned __int128)value & mask;
  if (type.isSigned && (low >> (type.bits - 1)) & 1) return __int128(low) - (__int128(1) << type.bits);
  return __int128(low);
}

HRESULT checked(__int128 value, IntegerType type, __int128 *out) {
  if (value < minimumOf(type) || value > maximumOf(type)) return DISP_E_OVERFLOW;
  *out = value;
  return S_OK;
}

void storeInteger(VARIANT *out, VARTYPE vt, __int128 value) {
  V_VT(out) = vt;
  switch (vt) {
    case VT_I1: V_I1(out) = CHAR(value); break;
    case VT_UI1: V_UI1(out) = BYTE(value); break;
    case VT_I2: V_I2(out) = SHORT(value); break;
    case VT_UI2: V_UI2(out) = USHORT(value); break;
    case VT_I4: V_I4(out) = LONG(value); break;
    case VT_INT: V_INT(out) = INT(value); break;
    case VT_UI4: V_UI4(out) = ULONG(value); break;
    case VT_UINT: V_UINT(out) = UINT(value); break;
    case VT_I8: V_I8(out) = LONGLONG(value); break;
    case VT_UI8: V_UI8(out) = ULONGLONG(value); break;
    default: break;
  }
}

// The integer held by an integer or boolean variant.
__int128 integerValue(const VARIANT *in) {
  switch (V_VT(in)) {
    case VT_I1: return (signed char)V_I1(in);
    case VT_UI1: return V_UI1(in);
    case VT_I2: return V_I2(in);
    case VT_UI2: return V_UI2(in);
    case VT_I4: return V_I4(in);
    case VT_INT: return V_INT(in);
    case VT_UI4: return V_UI4(in);
    case VT_UINT: return V_UINT(in);
    case VT_I8: return V_I8(in);
    case VT_UI8: return V_UI8(in);
    case VT_BOOL: return V_BOOL(in);
    default: return 0;
  }
}

bool isReal(VARTYPE vt) { return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE; }

double realValue(const VARIANT *in) {
  return V_VT(in) == VT_R4 ? double(V_R4(in)) : V_VT(in) == VT_R8 ? V_R8(in) : V_DATE(in);
}

unsigned __int128 decimalMantissa(const DECIMAL &value) { return (unsigned __int128)value.Hi32 << 64 | value.Lo64; }

unsigned __int128 powerOfTen(int exponent) {
  unsigned __int128 power = 1;
  while (exponent-- > 0) power *= 10;
  return power;
}

// Divides with rounding to the nearest quotient, halves to even.
unsigned __int128 roundedQuotient(unsigned __int128 dividend, unsigned __int128 divisor) {
  unsigned __int128 quotient = dividend / divisor, remainder = dividend % divisor;
  unsigned __int128 twice = remainder * 2;
  if (twice > divisor || (twice == divisor && (quotient & 1))) ++quotient;
  return quotient;
}

__int128 roundedDecimal(const DECIMAL &value, int scale) {
  unsigned __int128 mantissa = decimalMantissa(value);
  unsigned __int128 magnitude = value.scale > scale ? roundedQuotient(mantissa, powerOfTen(value.scale - scale))
                                                    : mantissa * powerOfTen(scale - value.scale);
  return (value.sign & DECIMAL_NEG) ? -__int128(magnitude) : __int128(magnitude);
}

double decimalToDouble(const DECIMAL &value) {
  double magnitude = double(decimalMantissa(value)) / double(powerOfTen(value.scale));
  return (value.sign & DECIMAL_NEG) ? -magnitude : magnitude;
}

// A double rounded into an integer range; halves round to even.
HRESULT realToInteger(double value, __int128 minimum, __int128 maximum, __int128 *out) {
  long double wide = value;
  if (isnan(value) || wide < (long double)minimum - 0.5L || wide >= (long double)maximum + 0.5L) return DISP_E_OVERFLOW;
  *out = __int128(rintl(wide));
  if (*out < minimum || *out > maximum) return DISP_E_OVERFLOW;
  return S_OK;
}

constexpr __int128 kCurrencyScale = 10000;
constexpr double kDateLow = -657435.0;
constexpr double kDateHigh = 2958466.0;

// A text of nothing but up to 18 decimal digits, after a minus sign or none,
// as most numbers written in files are: its value, as the full reading below
// would give it in any locale.
bool plainInteger(BSTR text, __int128 *value) {
  if (text == nullptr) return false;
  const OLECHAR *at = text[0] == u'-' ? text + 1 : text;
  __int128 magnitude = 0;
  int digits = 0;
  for (; *at >= u'0' && *at <= u'9'; ++at, ++digits) magnitude = magnitude * 10 + (*at - u'0');
  if (*at != 0 || digits == 0 || digits > 18) return false;
  *value = text[0] == u'-' ? -magnitude : magnitude;
  return true;
}

HRESULT integerFromText(BSTR text, IntegerType type, __int128 *out) {
  if (__int128 value; plainInteger(text, &value)) return checked(value, type, out);
  ParsedNumber number;
  HRESULT hr = parseNumber(text, &number);
  if (FAILED(hr)) return hr;
  if (number.based) {
    __int128 value = number.basedValue;
    if (type.bits < 64 && number.basedValue < (uint64_t(1) << type.bits)) value = truncated(value, type);
    return checked(number.negative ? -value : value, type, out);
  }
  __int128 value;
  if (!roundedInteger(number, &value)) return DISP_E_OVERFLOW;
  return checked(value, type, out);
}

HRESULT doubleFromText(BSTR text, double *out) {
  ParsedNumber number;
  HRESULT hr = parseNumber(text, &number);
  if (FAILED(hr)) return hr;
  return parsedToDouble(number, out);
}

HRESULT allocText(VARIANT *out, const std::u16string &text) {
  V_VT(out) = VT_BSTR;
  V_BSTR(out) = SysAllocStringLen(text.data(), UINT(text.size()));
  return V_BSTR(out) != nullptr ? S_OK : E_OUTOFMEMORY;
}

bool equalsIgnoringCase(const OLECHAR *text, const char *word) {
  for (; *word != 0; ++text, ++word) {
    OLECHAR c = *text >= u'A' && *text <= u'Z' ? OLECHAR(*text - u'A' + u'a') : *text;
    if (c != OLECHAR(*word)) return false;
  }
  return *text == 0;
}

HRESULT boolFromText(BSTR text, VARIANT_BOOL *out) {
  if (text != nullptr) {
    if (equalsIgnoringCase(text, "true") || equalsIgnoringCase(text, "#true#")) return *out = VARIANT_TRUE, S_OK;
    if (equalsIgnoringCase(text, "false") || equalsIgnoringCase(text, "#false#")) return *out = VARIANT_FALSE, S_OK;
  }
  ParsedNumber number;
  HRESULT hr = parseNumber(text, &number);
  if (FAILED(hr)) return hr;
  *out = (number.based ? number.basedValue != 0 : !number.digits.empty()) ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// A value of one of the numeric types as a double (for R4, R8, DATE, CY
// targets).
bool numericAsDouble(const VARIANT *in, double *out) {
  VARTYPE vt = V_VT(in);
  IntegerType type;
  if (integerType(vt, &type) || vt == VT_BOOL)
    *out = double(integerValue(in));
  else if (isReal(vt))
    *out = realValue(in);
  else if (vt == VT_CY)
    *out = double(V_CY(in).int64) / 10000.0;
  else if (vt == VT_DECIMAL)
    *out = decimalToDouble(V_DECIMAL(in));
  else if (vt == VT_EMPTY)
    *out = 0;
  else
    return false;
  return true;
}

HRESULT toInteger(const VARIANT *in, VARTYPE vt, VARIANT *out) {
  IntegerType target, source;
  integerType(vt, &target);
  VARTYPE from = V_VT(in);
  __int128 value = 0;
  HRESULT hr = S_OK;
  if (from == VT_BOOL || (integerType(from, &source) && source.bits == target.bits)) {
    value = truncated(integerValue(in), target);
  } else if (integerType(from, &source)) {
    hr = checked(integerValue(in), target, &value);
  } else if (isReal(from)) {
    hr = realToInteger(realValue(in), minimumOf(target), maximumOf(target), &value);
  } else if (from == VT_CY) {
    __int128 cy = V_CY(in).int64;
    unsigned __int128 magnitude = roundedQuotient((unsigned __int128)(cy < 0 ? -cy : cy), kCurrencyScale);
    hr = checked(cy < 0 ? -__int128(magnitude) : __int128(magnitude), target, &value);
  } else if (from == VT_DECIMAL) {
    hr = checked(roundedDecimal(V_DECIMAL(in), 0), target, &value);
  } else if (from == VT_BSTR) {
    hr = integerFromText(V_BSTR(in), target, &value);
  } else if (from != VT_EMPTY) {
    return DISP_E_TYPEMISMATCH;
  }
  if (SUCCEEDED(hr)) storeInteger(out, vt, value);
  return hr;
}

HRESULT toBool(const VARIANT *in, VARIANT *out) {
  VARTYPE from = V_VT(in);
  VARIANT_BOOL value;
  if (from == VT_BSTR) {
    HRESULT hr = boolFromText(V_BSTR(in), &value);
    if (FAILED(hr)) return hr;
  } else if (from == VT_CY) {
    value = V_CY(in).int64 != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (from == VT_DECIMAL) {
    value = decimalMantissa(V_DECIMAL(in)) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    double number;
    if (!numericAsDouble(in, &number)) return DISP_E_TYPEMISMATCH;
    value = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  }
  V_VT(out) = VT_BOOL;
  V_BOOL(out) = value;
  return S_OK;
}

HRESULT toReal(const VARIANT *in, VARTYPE vt, VARIANT *out) {
  double value;
  if (V_VT(in) == VT_BSTR) {
    HRESULT hr = vt == VT_DATE ? parseDate(V_BSTR(in), &value) : doubleFromText(V_BSTR(in), &value);
    if (FAILED(hr)) return hr;
  } else if (!numericAsDouble(in, &value)) {
    return DISP_E_TYPEMISMATCH;
  }
  V_VT(out) = vt;
  if (vt == VT_R4) {
    if (fabs(value) > FLT_MAX && !isinf(value)) return DISP_E_OVERFLOW;
    V_R4(out) = FLOAT(value);
  } else if (vt == VT_R8) {
    V_R8(out) = value;
  } else {
    if (!(value > kDateLow && value < kDateHigh)) return DISP_E_OVERFLOW;
    V_DATE(out) = value;
  }
  return S_OK;
}

HRESULT toCurrency(const VARIANT *in, VARIANT *out) {
  constexpr IntegerType int64Type = {64, true};
  VARTYPE from = V_VT(in);
  IntegerType source;
  __int128 value;
  HRESULT hr;
  if (from == VT_BOOL || integerType(from, &source)) {
    hr = checked(integerValue(in) * kCurrencyScale, int64Type, &value);
  } else if (from == VT_DECIMAL) {
    hr = checked(roundedDecimal(V_DECIMAL(in), 4), int64Type, &value);
  } else {
    double number;
    if (from == VT_BSTR) {
      hr = doubleFromText(V_BSTR(in), &number);
      if (FAILED(hr)) return hr;
    } else if (!numericAsDouble(in, &number)) {
      return DISP_E_TYPEMISMATCH;
    }
    hr = realToInteger(number * 10000.0, minimumOf(int64Type), maximumOf(int64Type), &value);
  }
  if (FAILED(hr)) return hr;
  V_VT(out) = VT_CY;
  V_CY(out).int64 = LONGLONG(value);
  return S_OK;
}

HRESULT decimalFromInteger(__int128 value, int scale, DECIMAL *out) {
  unsigned __int128 magnitude = value < 0 ? (unsigned __int128)(-value) : (unsigned __int128)value;
  if (magnitude >> 96) return DISP_E_OVERFLOW;
  out->wReserved = 0;
  out->scale = BYTE(scale);
  out->sign = value < 0 ? DECIMAL_NEG : 0;
  out->Hi32 = ULONG(magnitude >> 64);
  out->Lo64 = ULONGLONG(magnitude);
  return S_OK;
}

HRESULT toDecimal(const VARIANT *in, VARIANT *out) {
  VARTYPE from = V_VT(in);
  IntegerType source;
  DECIMAL value;
  HRESULT hr;
  if (from == VT_BOOL || integerType(from, &source) || from == VT_EMPTY) {
    hr = decimalFromInteger(from == VT_EMPTY ? 0 : integerValue(in), 0, &value);
  } else if (from == VT_CY) {
    hr = decimalFromInteger(V_CY(in).int64, 4, &value);
  } else if (from == VT_BSTR || isReal(from)) {
    ParsedNumber number;
    if (from == VT_BSTR) {
      hr = parseNumber(V_BSTR(in), &number);
    } else {
      // A double carries 15 significant decimal digits.
      double real = realValue(in);
      if (!isfinite(real)) return DISP_E_OVERFLOW;
      char text[64];
      snprintf(text, sizeof text, "%.15G", real);
      std::u16string wide(text, text + strlen(text));
      hr = parseNumber(wide.c_str(), &number);
    }
    if (SUCCEEDED(hr)) hr = parsedToDecimal(number, &value);
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;
  V_DECIMAL(out) = value;
  V_VT(out) = VT_DECIMAL;
  return S_OK;
}

HRESULT toText(const VARIANT *in, USHORT flags, VARIANT *out) {
  VARTYPE from = V_VT(in);
  IntegerType source;
  if (from == VT_BOOL && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)))
    return allocText(out, V_BOOL(in) != 0 ? u"True" : u"False");
  if (from == VT_BOOL || integerType(from, &source)) {
    __int128 value = integerValue(in);
    unsigned __int128 magnitude = value < 0 ? (unsigned __int128)(-value) : (unsigned __int128)value;
    std::u16string text;
    do {
      text.insert(text.begin(), char16_t(u'0' + int(magnitude % 10)));
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) text.insert(text.begin(), u'-');
    return allocText(out, text);
  }
  switch (from) {
    case VT_EMPTY: return allocText(out, u"");
    case VT_R4: return allocText(out, formatReal(V_R4(in), 7));
    case VT_R8: return allocText(out, formatReal(V_R8(in), 15));
    case VT_CY: return allocText(out, formatCurrency(V_CY(in)));
    case VT_DECIMAL: return allocText(out, formatDecimal(V_DECIMAL(in)));
    case VT_DATE: {
      std::u16string text;
      HRESULT hr = formatDate(V_DATE(in), 0, &text);
      return FAILED(hr) ? hr : allocText(out, text);
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT toInterface(const VARIANT *in, VARTYPE vt, VARIANT *out) {
  VARTYPE from = V_VT(in);
  if (from != VT_DISPATCH && from != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  IUnknown *object = V_UNKNOWN(in);
  V_VT(out) = vt;
  V_UNKNOWN(out) = nullptr;
  if (object == nullptr) return S_OK;
  if (vt == VT_DISPATCH && from == VT_UNKNOWN) {
    void *dispatch = nullptr;
    if (FAILED(object->QueryInterface(IID_IDispatch, &dispatch))) return DISP_E_TYPEMISMATCH;
    V_DISPATCH(out) = static_cast<IDispatch *>(dispatch);
    return S_OK;
  }
  object->AddRef();
  V_UNKNOWN(out) = object;
  return S_OK;
}

HRESULT toArray(const VARIANT *in, VARTYPE vt, VARIANT *out) {
  V_VT(out) = vt;
  V_ARRAY(out) = nullptr;
  if (V_VT(in) == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) return VectorFromBstr(V_BSTR(in), &V_ARRAY(out));
  if (V_VT(in) == (VT_ARRAY | VT_UI1) && vt == VT_BSTR) {
    if (V_ARRAY(in) == nullptr) return E_INVALIDARG;
    return BstrFromVector(V_ARRAY(in), &V_BSTR(out));
  }
  if (V_VT(in) == vt) return SafeArrayCopy(V_ARRAY(in), &V_ARRAY(out));
  return DISP_E_TYPEMISMATCH;
}

HRESULT coerce(const VARIANT *in, LCID lcid, USHORT flags, VARTYPE vt, VARIANT *out);

// An object converts to a value through its value property (DISPID_VALUE).
HRESULT fromValueProperty(const VARIANT *in, LCID lcid, USHORT flags, VARTYPE vt, VARIANT *out) {
  if (V_VT(in) == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  if (V_DISPATCH(in) == nullptr) return DISP_E_BADVARTYPE;
  if (flags & VARIANT_NOVALUEPROP) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr =
      V_DISPATCH(in)->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  hr = coerce(&value, lcid, flags | VARIANT_NOVALUEPROP, vt, out);
  VariantClear(&value);
  return hr;
}

// Converts a value that is not a reference into a new, owning variant.
HRESULT coerce(const VARIANT *in, LCID lcid, USHORT flags, VARTYPE vt, VARIANT *out) {
  VariantInit(out);
  VARTYPE from = V_VT(in);
  if ((from & VT_ARRAY) || (vt & VT_ARRAY)) return toArray(in, vt, out);
  if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) return from == VT_NULL ? DISP_E_TYPEMISMATCH : S_OK;
  if (vt == VT_NULL) {
    V_VT(out) = VT_NULL;
    return S_OK;
  }
  if (from == vt) return VariantCopy(out, in);
  // A decimal holds at most 28 digits after the point and no sign bit but
  // the top one; oleaut32 refuses any other as an argument, and the scaling
  // below could not represent it.
  if (from == VT_DECIMAL && (V_DECIMAL(in).scale > 28 || (V_DECIMAL(in).sign & ~DECIMAL_NEG) != 0)) return E_INVALIDARG;
  if (from == VT_NULL || from == VT_ERROR || vt == VT_ERROR || vt == VT_VARIANT || vt == VT_RECORD ||
      from == VT_RECORD || from == VT_VARIANT)
    return DISP_E_TYPEMISMATCH;
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) return toInterface(in, vt, out);
  if (from == VT_DISPATCH || from == VT_UNKNOWN) return fromValueProperty(in, lcid, flags, vt, out);
  IntegerType type;
  if (integerType(vt, &type)) return toInteger(in, vt, out);
  switch (vt) {
    case VT_BOOL: return toBool(in, out);
    case VT_R4:
    case VT_R8:
    case VT_DATE: return toReal(in, vt, out);
    case VT_CY: return toCurrency(in, out);
    case VT_DECIMAL: return toDecimal(in, out);
    case VT_BSTR: return toText(in, flags, out);
    default: return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

// The destination changes only when the conversion succeeds; it may be the
// source itself.
HRESULT VariantChangeTypeEx(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  HRESULT hr = validateVartype(V_VT(pvarSrc));
  if (SUCCEEDED(hr)) hr = validateVartype(vt);
  if (FAILED(hr)) return hr;

  VARIANT value;
  VariantInit(&value);
  const VARIANT *source = pvarSrc;
  if (V_ISBYREF(pvarSrc)) {
    hr = VariantCopyInd(&value, pvarSrc);
    if (FAILED(hr)) return hr;
    source = &value;
    // A variant reached through a reference has its type checked as the
    // source's own type is.
    hr = validateVartype(V_VT(source));
    if (FAILED(hr)) {
      VariantClear(&value);
      return hr;
    }
  }
  VARIANT result;
  hr = coerce(source, lcid, wFlags, vt, &result);
  VariantClear(&value);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

namespace {

// Converts text through VariantChangeTypeEx into a variant of type `vt`.
HRESULT fromText(LPCOLESTR text, LCID lcid, VARTYPE vt, VARIANT *out) {
  if (text == nullptr) return DISP_E_TYPEMISMATCH;
  VARIANT in;
  V_VT(&in) = VT_BSTR;
  V_BSTR(&in) = const_cast<BSTR>(text);
  VariantInit(out);
  return coerce(&in, lcid, 0, vt, out);
}

HRESULT toTextOut(VARIANT *in, USHORT flags, BSTR *out) {
  if (out == nullptr) return E_INVALIDARG;
  VARIANT text;
  VariantInit(&text);
  HRESULT hr = toText(in, flags, &text);
  *out = SUCCEEDED(hr) ? V_BSTR(&text) : nullptr;
  return hr;
}

// The direct conversions from text: the variant conversion, then the value
// taken out of the variant by `take`.
template <typename T, typename Take> HRESULT textTo(LPCOLESTR text, LCID lcid, VARTYPE vt, T *out, Take take) {
  if (out == nullptr) return E_INVALIDARG;
  VARIANT value;
  HRESULT hr = fromText(text, lcid, vt, &value);
  if (SUCCEEDED(hr)) *out = take(value);
  return hr;
}

// The direct conversions to text: the value put into a variant by `put`,
// then the variant conversion.
template <typename Put> HRESULT textFrom(VARTYPE vt, USHORT flags, BSTR *out, Put put) {
  VARIANT in;
  V_VT(&in) = vt;
  put(in);
  return toTextOut(&in, flags, out);
}

}  // namespace

HRESULT VarI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG, LONG *plOut) {
  return textTo(strIn, lcid, VT_I4, plOut, [](VARIANT &v) { return V_I4(&v); });
}

HRESULT VarR8FromStr(LPCOLESTR strIn, LCID lcid, ULONG, DOUBLE *pdblOut) {
  return textTo(strIn, lcid, VT_R8, pdblOut, [](VARIANT &v) { return V_R8(&v); });
}

HRESULT VarBoolFromStr(LPCOLESTR strIn, LCID lcid, ULONG, VARIANT_BOOL *pboolOut) {
  return textTo(strIn, lcid, VT_BOOL, pboolOut, [](VARIANT &v) { return V_BOOL(&v); });
}

HRESULT VarDateFromStr(LPCOLESTR strIn, LCID lcid, ULONG, DATE *pdateOut) {
  return textTo(strIn, lcid, VT_DATE, pdateOut, [](VARIANT &v) { return V_DATE(&v); });
}

HRESULT VarI4FromR8(DOUBLE dblIn, LONG *plOut) {
  if (plOut == nullptr) return E_INVALIDARG;
  __int128 value;
  HRESULT hr = realToInteger(dblIn, INT32_MIN, INT32_MAX, &value);
  if (SUCCEEDED(hr)) *plOut = LONG(value);
  return hr;
}

HRESULT VarBstrFromI4(LONG lIn, LCID, ULONG, BSTR *pbstrOut) {
  return textFrom(VT_I4, 0, pbstrOut, [&](VARIANT &v) { V_I4(&v) = lIn; });
}

HRESULT VarBstrFromR8(DOUBLE dblIn, LCID, ULONG, BSTR *pbstrOut) {
  return textFrom(VT_R8, 0, pbstrOut, [&](VARIANT &v) { V_R8(&v) = dblIn; });
}

HRESULT VarBstrFromCy(CY cyIn, LCID, ULONG, BSTR *pbstrOut) {
  return textFrom(VT_CY, 0, pbstrOut, [&](VARIANT &v) { V_CY(&v) = cyIn; });
}

// Called directly, the boolean is always written as a word.
HRESULT VarBstrFromBool(VARIANT_BOOL boolIn, LCID, ULONG, BSTR *pbstrOut) {
  return textFrom(VT_BOOL, VARIANT_ALPHABOOL, pbstrOut, [&](VARIANT &v) { V_BOOL(&v) = boolIn; });
}

HRESULT VarBstrFromDate(DATE dateIn, LCID, ULONG dwFlags, BSTR *pbstrOut) {
  if (pbstrOut == nullptr) return E_INVALIDARG;
  *pbstrOut = nullptr;
  std::u16string text;
  HRESULT hr = formatDate(dateIn, dwFlags, &text);
  if (FAILED(hr)) return hr;
  *pbstrOut = SysAllocStringLen(text.data(), UINT(text.size()));
  return *pbstrOut != nullptr ? S_OK : E_OUTOFMEMORY;
}
