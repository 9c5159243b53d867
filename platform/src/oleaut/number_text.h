// Text of numbers and dates in OLE Automation's rules, for the locale this
// platform offers: US English (decimal point '.', thousands separator ',',
// currency symbol '$', month/day/year dates, 12-hour times).
#pragma once

#include <oleauto.h>

#include <stdint.h>
#include <string>

namespace oleaut {

// A number read from text: digits x 10^exponent, or a hexadecimal/octal
// value (&H..., &O...), with a sign.
struct ParsedNumber {
  bool negative = false;
  bool based = false;
  uint64_t basedValue = 0;
  std::string digits;  // decimal digits without leading zeros; empty for 0
  int exponent = 0;
};

// DISP_E_TYPEMISMATCH for text that is no number; DISP_E_OVERFLOW for a
// hexadecimal or octal number wider than 64 bits.
HRESULT parseNumber(const OLECHAR *text, ParsedNumber *number);

// The value rounded to an integer, halves to even, as a 128-bit integer;
// false when its magnitude exceeds 2^96.
bool roundedInteger(const ParsedNumber &number, __int128 *value);

// The nearest double; DISP_E_OVERFLOW beyond the range of doubles.
HRESULT parsedToDouble(const ParsedNumber &number, double *value);

// The value as a decimal, rounded to at most 28 fraction digits.
HRESULT parsedToDecimal(const ParsedNumber &number, DECIMAL *value);

// Shortest text of a double with `significant` digits, as OLE Automation
// writes doubles (15 digits) and floats (7 digits): 1.5, 1E+20, 1E-05.
std::u16string formatReal(double value, int significant);

std::u16string formatCurrency(CY value);
std::u16string formatDecimal(const DECIMAL &value);

// A date as M/D/YYYY h:mm:ss AM; the date is left out at day 0 unless only
// the date is asked for, the time when it is midnight.
HRESULT formatDate(DATE value, ULONG flags, std::u16string *text);

HRESULT parseDate(const OLECHAR *text, DATE *value);

}  // namespace oleaut
