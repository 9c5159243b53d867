#include "oleaut/number_text.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <utility>
#include <vector>

namespace oleaut {

namespace {

bool isBlank(OLECHAR c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == 0xA0;
}

bool isDigit(OLECHAR c) { return c >= u'0' && c <= u'9'; }

OLECHAR lower(OLECHAR c) { return c >= u'A' && c <= u'Z' ? OLECHAR(c - u'A' + u'a') : c; }

// Exponents beyond this only decide between overflow and zero.
constexpr int kExponentLimit = 100000;

HRESULT parseBased(const OLECHAR *text, size_t *at, ParsedNumber *number) {
  size_t i = *at + 1;
  OLECHAR kind = lower(text[i]);
  unsigned shift = kind == u'h' ? 4 : kind == u'o' ? 3 : 0;
  if (shift == 0) return DISP_E_TYPEMISMATCH;
  ++i;
  size_t first = i;
  uint64_t value = 0;
  bool overflow = false;
  for (;; ++i) {
    OLECHAR c = lower(text[i]);
    int digit = isDigit(c) ? c - u'0' : (shift == 4 && c >= u'a' && c <= u'f') ? c - u'a' + 10 : -1;
    if (digit < 0 || digit >= (1 << shift)) break;
    if (value >> (64 - shift)) overflow = true;
    value = value << shift | uint64_t(digit);
  }
  if (i == first) return DISP_E_TYPEMISMATCH;
  number->based = true;
  number->basedValue = value;
  *at = i;
  return overflow ? DISP_E_OVERFLOW : S_OK;
}

HRESULT parseDecimalBody(const OLECHAR *text, size_t *at, ParsedNumber *number) {
  size_t i = *at;
  std::string digits;
  int fractionDigits = 0;
  bool point = false;
  for (;; ++i) {
    OLECHAR c = text[i];
    if (isDigit(c)) {
      digits.push_back(char(c));
      if (point) ++fractionDigits;
    } else if (c == u',' && !digits.empty()) {
      // Thousands separators may stand anywhere after the first digit.
    } else if (c == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits.empty()) return DISP_E_TYPEMISMATCH;
  long exponent = 0;
  if (lower(text[i]) == u'e') {
    size_t j = i + 1;
    bool negativeExponent = false;
    if (text[j] == u'+' || text[j] == u'-') negativeExponent = text[j++] == u'-';
    if (!isDigit(text[j])) return DISP_E_TYPEMISMATCH;
    for (; isDigit(text[j]); ++j)
      if (exponent < kExponentLimit) exponent = exponent * 10 + (text[j] - u'0');
    if (negativeExponent) exponent = -exponent;
    i = j;
  }
  exponent -= fractionDigits;
  size_t firstSignificant = digits.find_first_not_of('0');
  if (firstSignificant == std::string::npos) {
    digits.clear();
    exponent = 0;
  } else {
    digits.erase(0, firstSignificant);
    size_t lastSignificant = digits.find_last_not_of('0');
    exponent += long(digits.size() - lastSignificant - 1);
    digits.erase(lastSignificant + 1);
  }
  number->digits = digits;
  number->exponent = int(exponent < -2 * kExponentLimit ? -2 * kExponentLimit : exponent);
  *at = i;
  return S_OK;
}

// Rounds a digit string to its first `keep` digits, halves to even; the
// result may grow by one digit ("995" kept to 2 gives "100").
std::string roundDigits(const std::string &digits, size_t keep) {
  if (digits.size() <= keep) return digits;
  std::string kept = digits.substr(0, keep);
  char dropped = digits[keep];
  bool restNonZero = digits.find_first_not_of('0', keep + 1) != std::string::npos;
  bool odd = !kept.empty() && (kept.back() - '0') % 2 == 1;
  if (dropped > '5' || (dropped == '5' && (restNonZero || odd))) {
    size_t i = kept.size();
    while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
    if (i == 0)
      kept.insert(kept.begin(), '1');
    else
      ++kept[i - 1];
  }
  return kept;
}

unsigned __int128 digitsValue(const std::string &digits) {
  unsigned __int128 value = 0;
  for (char c : digits) value = value * 10 + unsigned(c - '0');
  return value;
}

std::u16string widen(const std::string &text) { return std::u16string(text.begin(), text.end()); }

std::string unsignedText(unsigned __int128 value) {
  std::string text;
  do {
    text.insert(text.begin(), char('0' + int(value % 10)));
    value /= 10;
  } while (value != 0);
  return text;
}

// Days between 1970-01-01 and a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  unsigned yearOfEra = unsigned(year - era * 400);
  unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + int64_t(dayOfEra) - 719468;
}

void civilFromDays(int64_t days, int64_t *year, unsigned *month, unsigned *day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  unsigned dayOfEra = unsigned(days - era * 146097);
  unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  *year = int64_t(yearOfEra) + era * 400 + (*month <= 2);
}

// Day 0 of automation dates, 1899-12-30, counted from 1970-01-01.
constexpr int64_t kDateEpoch = -25569;
constexpr double kMinDate = -657434.0;       // 1 January 100
constexpr double kMaxDateLimit = 2958466.0;  // 1 January 10000

unsigned daysInMonth(int64_t year, unsigned month) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

HRESULT parseNumber(const OLECHAR *text, ParsedNumber *number) {
  *number = ParsedNumber();
  if (text == nullptr) return DISP_E_TYPEMISMATCH;
  size_t i = 0;
  bool sign = false, parens = false, currency = false;
  for (;; ++i) {
    OLECHAR c = text[i];
    if (isBlank(c)) continue;
    if ((c == u'+' || c == u'-') && !sign && !parens) {
      sign = true;
      number->negative = c == u'-';
    } else if (c == u'(' && !sign && !parens) {
      parens = true;
      number->negative = true;
    } else if (c == u'$' && !currency) {
      currency = true;
    } else {
      break;
    }
  }
  HRESULT hr = text[i] == u'&' ? parseBased(text, &i, number) : parseDecimalBody(text, &i, number);
  if (hr == DISP_E_TYPEMISMATCH) return hr;
  bool closed = false;
  for (;; ++i) {
    OLECHAR c = text[i];
    if (isBlank(c)) continue;
    if ((c == u'+' || c == u'-') && !sign && !parens) {
      sign = true;
      number->negative = c == u'-';
    } else if (c == u')' && parens && !closed) {
      closed = true;
    } else if (c == u'$' && !currency) {
      currency = true;
    } else {
      break;
    }
  }
  if (text[i] != 0 || parens != closed) return DISP_E_TYPEMISMATCH;
  return hr;
}

bool roundedInteger(const ParsedNumber &number, __int128 *value) {
  constexpr long kMaxDigits = 30;
  unsigned __int128 magnitude;
  if (number.based) {
    magnitude = number.basedValue;
  } else if (number.digits.empty()) {
    magnitude = 0;
  } else if (number.exponent >= 0) {
    if (long(number.digits.size()) + number.exponent > kMaxDigits) return false;
    magnitude = digitsValue(number.digits);
    for (int i = 0; i < number.exponent; ++i) magnitude *= 10;
  } else {
    long integerDigits = long(number.digits.size()) + number.exponent;
    if (integerDigits > kMaxDigits) return false;
    if (integerDigits < 0) {
      magnitude = 0;
    } else {
      std::string rounded = roundDigits(number.digits, size_t(integerDigits));
      magnitude = digitsValue(rounded);
    }
  }
  *value = number.negative ? -__int128(magnitude) : __int128(magnitude);
  return true;
}

HRESULT parsedToDouble(const ParsedNumber &number, double *value) {
  double magnitude;
  if (number.based) {
    magnitude = double(number.basedValue);
  } else if (number.digits.empty()) {
    magnitude = 0;
  } else {
    std::string text = number.digits + "e" + std::to_string(number.exponent);
    magnitude = strtod(text.c_str(), nullptr);
    if (isinf(magnitude)) return DISP_E_OVERFLOW;
  }
  *value = number.negative && magnitude != 0 ? -magnitude : magnitude;
  return S_OK;
}

HRESULT parsedToDecimal(const ParsedNumber &number, DECIMAL *value) {
  constexpr unsigned __int128 kLimit = (unsigned __int128)1 << 96;
  constexpr int kMaxScale = 28;
  std::string digits = number.based ? unsignedText(number.basedValue) : number.digits;
  long exponent = number.based ? 0 : number.exponent;
  if (digits.empty()) {
    DECIMAL_SETZERO(*value);
    value->wReserved = 0;
    return S_OK;
  }
  if (exponent > 0) {
    if (long(digits.size()) + exponent > 29) return DISP_E_OVERFLOW;
    digits.append(size_t(exponent), '0');
    exponent = 0;
  }
  long scale = -exponent;
  if (scale > kMaxScale) {
    long drop = scale - kMaxScale;
    digits = long(digits.size()) > drop ? roundDigits(digits, digits.size() - size_t(drop)) : std::string("0");
    scale = kMaxScale;
  }
  // Drop fraction digits until the mantissa fits 96 bits.
  while (digits.size() > 29 || digitsValue(digits) >= kLimit) {
    if (scale == 0) return DISP_E_OVERFLOW;
    digits = roundDigits(digits, digits.size() - 1);
    --scale;
  }
  unsigned __int128 mantissa = digitsValue(digits);
  value->wReserved = 0;
  value->scale = BYTE(scale);
  value->sign = number.negative && mantissa != 0 ? DECIMAL_NEG : 0;
  value->Hi32 = ULONG(mantissa >> 64);
  value->Lo64 = ULONGLONG(mantissa);
  return S_OK;
}

std::u16string formatReal(double value, int significant) {
  if (value == 0) return u"0";
  char text[64];
  snprintf(text, sizeof text, "%.*G", significant, value);
  return widen(text);
}

std::u16string formatCurrency(CY value) {
  bool negative = value.int64 < 0;
  uint64_t magnitude = negative ? 0 - uint64_t(value.int64) : uint64_t(value.int64);
  std::string text = unsignedText(magnitude / 10000);
  unsigned fraction = unsigned(magnitude % 10000);
  if (fraction != 0) {
    char digits[8];
    snprintf(digits, sizeof digits, ".%04u", fraction);
    std::string part = digits;
    part.erase(part.find_last_not_of('0') + 1);
    text += part;
  }
  return widen(negative ? "-" + text : text);
}

std::u16string formatDecimal(const DECIMAL &value) {
  unsigned __int128 mantissa = (unsigned __int128)value.Hi32 << 64 | value.Lo64;
  std::string text = unsignedText(mantissa);
  size_t scale = value.scale;
  if (scale > 0) {
    if (text.size() <= scale) text.insert(0, scale - text.size() + 1, '0');
    text.insert(text.size() - scale, ".");
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  if ((value.sign & DECIMAL_NEG) && mantissa != 0) text.insert(0, "-");
  return widen(text);
}

HRESULT formatDate(DATE value, ULONG flags, std::u16string *text) {
  if (!(value > kMinDate - 1.0 && value < kMaxDateLimit)) return E_INVALIDARG;
  double whole = trunc(value);
  double fraction = fabs(value - whole);
  int64_t day = int64_t(whole);
  int64_t seconds = int64_t(floor(fraction * 86400.0 + 0.5));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  bool showDate = !(flags & VAR_TIMEVALUEONLY) && (day != 0 || (flags & VAR_DATEVALUEONLY));
  bool showTime = !(flags & VAR_DATEVALUEONLY) && (fraction != 0 || day == 0 || (flags & VAR_TIMEVALUEONLY));
  char buffer[64];
  std::string out;
  if (showDate) {
    int64_t year;
    unsigned month, dayOfMonth;
    civilFromDays(day + kDateEpoch, &year, &month, &dayOfMonth);
    snprintf(buffer, sizeof buffer, "%u/%u/%lld", month, dayOfMonth, (long long)year);
    out = buffer;
  }
  if (showTime) {
    int hour = int(seconds / 3600), minute = int(seconds / 60 % 60), second = int(seconds % 60);
    snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour % 12 == 0 ? 12 : hour % 12, minute, second,
             hour < 12 ? "AM" : "PM");
    if (!out.empty()) out += ' ';
    out += buffer;
  }
  *text = widen(out);
  return S_OK;
}

namespace {

struct DateToken {
  enum Kind { Number, Word, Separator } kind = Number;
  long number = 0;
  size_t length = 0;
  std::u16string word;
  OLECHAR separator = 0;
};

int monthFromName(const std::u16string &word) {
  static const char16_t *const names[] = {u"january", u"february", u"march",     u"april",   u"may",      u"june",
                                          u"july",    u"august",   u"september", u"october", u"november", u"december"};
  if (word.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    std::u16string name = names[i];
    if (word.size() <= name.size() && name.compare(0, word.size(), word) == 0) return i + 1;
  }
  return 0;
}

}  // namespace

// Reads a date, a time or both: M/D/Y (also with '-' or '.'), Y-M-D with a
// four-digit year, M/D in the current year, month names ("January 2, 2000",
// "2 Jan 2000"), and h:mm[:ss] or h with AM/PM. Two-digit years below 30 are
// in the 2000s, the others in the 1900s.
HRESULT parseDate(const OLECHAR *text, DATE *value) {
  if (text == nullptr) return DISP_E_TYPEMISMATCH;
  std::vector<DateToken> tokens;
  for (size_t i = 0; text[i] != 0;) {
    OLECHAR c = text[i];
    if (isBlank(c) || c == u',') {
      ++i;
    } else if (isDigit(c)) {
      DateToken token;
      token.kind = DateToken::Number;
      for (; isDigit(text[i]); ++i, ++token.length)
        if (token.number < 100000) token.number = token.number * 10 + (text[i] - u'0');
      tokens.push_back(token);
    } else if (lower(c) >= u'a' && lower(c) <= u'z') {
      DateToken token;
      token.kind = DateToken::Word;
      for (; lower(text[i]) >= u'a' && lower(text[i]) <= u'z'; ++i) token.word.push_back(lower(text[i]));
      tokens.push_back(token);
    } else if (c == u'/' || c == u'-' || c == u'.' || c == u':') {
      DateToken token;
      token.kind = DateToken::Separator;
      token.separator = c;
      tokens.push_back(token);
      ++i;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
  }

  // The time: a number followed by ':' (h:mm[:ss]) or by AM/PM.
  bool haveTime = false;
  long hour = 0, minute = 0, second = 0;
  int meridiem = 0;  // 1 AM, 2 PM
  std::vector<DateToken> dateTokens;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const DateToken &token = tokens[i];
    bool colonFollows = i + 2 < tokens.size() && tokens[i + 1].kind == DateToken::Separator &&
                        tokens[i + 1].separator == u':' && tokens[i + 2].kind == DateToken::Number;
    bool meridiemFollows = i + 1 < tokens.size() && tokens[i + 1].kind == DateToken::Word &&
                           (tokens[i + 1].word == u"am" || tokens[i + 1].word == u"pm");
    if (token.kind == DateToken::Number && !haveTime && (colonFollows || meridiemFollows)) {
      haveTime = true;
      hour = token.number;
      if (colonFollows) {
        minute = tokens[i + 2].number;
        i += 2;
        if (i + 2 < tokens.size() && tokens[i + 1].kind == DateToken::Separator && tokens[i + 1].separator == u':' &&
            tokens[i + 2].kind == DateToken::Number) {
          second = tokens[i + 2].number;
          i += 2;
        }
      }
      if (i + 1 < tokens.size() && tokens[i + 1].kind == DateToken::Word &&
          (tokens[i + 1].word == u"am" || tokens[i + 1].word == u"pm")) {
        meridiem = tokens[i + 1].word == u"am" ? 1 : 2;
        ++i;
      }
      continue;
    }
    dateTokens.push_back(token);
  }
  if (haveTime) {
    if (meridiem != 0) {
      if (hour < 1 || hour > 12) return DISP_E_TYPEMISMATCH;
      hour = hour % 12 + (meridiem == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return DISP_E_TYPEMISMATCH;
  }

  // The date: numbers between separators, and at most one month name.
  std::vector<DateToken> numbers;
  int namedMonth = 0;
  OLECHAR separator = 0;
  for (const DateToken &token : dateTokens) {
    if (token.kind == DateToken::Number) {
      numbers.push_back(token);
    } else if (token.kind == DateToken::Word) {
      int month = monthFromName(token.word);
      if (month == 0 || namedMonth != 0) return DISP_E_TYPEMISMATCH;
      namedMonth = month;
    } else {
      if (token.separator == u':' || (separator != 0 && token.separator != separator)) return DISP_E_TYPEMISMATCH;
      separator = token.separator;
    }
  }
  bool haveDate = !numbers.empty() || namedMonth != 0;
  if (!haveDate && !haveTime) return DISP_E_TYPEMISMATCH;
  int64_t days = 0;
  if (haveDate) {
    long year, month, day;
    bool yearGiven = true;
    if (namedMonth != 0) {
      if (numbers.size() == 1) {
        day = numbers[0].number;
        yearGiven = false;
        year = 0;
      } else if (numbers.size() == 2) {
        day = numbers[0].number;
        year = numbers[1].number;
        if (numbers[0].length > 2) std::swap(day, year);
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      month = namedMonth;
    } else if (numbers.size() == 3) {
      if (numbers[0].length > 2) {
        year = numbers[0].number, month = numbers[1].number, day = numbers[2].number;
      } else {
        month = numbers[0].number, day = numbers[1].number, year = numbers[2].number;
      }
    } else if (numbers.size() == 2 && separator != u'.') {
      month = numbers[0].number, day = numbers[1].number, year = 0;
      yearGiven = false;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    if (!yearGiven) {
      time_t now = time(nullptr);
      struct tm local;
      localtime_r(&now, &local);
      year = local.tm_year + 1900;
    } else if (year < 100) {
      year += year < 30 ? 2000 : 1900;
    }
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > long(daysInMonth(year, unsigned(month))))
      return DISP_E_TYPEMISMATCH;
    days = daysFromCivil(year, unsigned(month), unsigned(day)) - kDateEpoch;
  }
  double timeOfDay = (hour * 3600 + minute * 60 + second) / 86400.0;
  *value = days < 0 ? double(days) - timeOfDay : double(days) + timeOfDay;
  return S_OK;
}

}  // namespace oleaut
