// Automation dates (DATE): days since 30 December 1899 in the whole part, the
// time of day in the fraction, which counts away from zero (-1.25 is 29
// December 1899, 06:00). Conversions keep whole seconds.
#include <windows.h>
#include <oleauto.h>

#include <cmath>

namespace {

constexpr int64_t SecondsPerDay = 86400;
constexpr int64_t DayOfDate0 = -25569;    // 30 December 1899, counted from 1 January 1970
constexpr double FirstDate = -657435.0;   // before 1 January 100
constexpr double EndOfDates = 2958466.0;  // 1 January 10000

// Days from 1 January 1970 of a date in the proleptic Gregorian calendar;
// `month` is 1 to 12, `day` may run past either end of the month.
int64_t dayNumber(int64_t year, int64_t month, int64_t day) {
  // Counted in eras of 400 years from 1 March of year 0, so that the leap day
  // ends a year.
  if (month <= 2) --year;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468 + (day - 1);
}

void dateOfDayNumber(int64_t days, int64_t *year, int64_t *month, int64_t *day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

// The fields are checked as given (month up to 12, day up to 31, year up to
// 9999); within that, values beyond their range carry over: day 0 is the last
// day of the month before, month 0 December of the year before, hour 24 the
// next day. Two-digit years mean 1950 to 2049. Milliseconds are ignored.
INT STDAPICALLTYPE SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE *pvtime) {
  if (lpSystemTime == nullptr || pvtime == nullptr) return FALSE;
  const SYSTEMTIME &time = *lpSystemTime;
  if (time.wMonth > 12 || time.wDay > 31 || time.wYear > 9999) return FALSE;
  int64_t year = time.wYear;
  if (year < 50)
    year += 2000;
  else if (year < 100)
    year += 1900;
  int64_t month = time.wMonth;
  if (month == 0) {
    month = 12;
    --year;
  }
  int64_t days = dayNumber(year, month, time.wDay) - DayOfDate0;
  const int64_t seconds = int64_t(time.wHour) * 3600 + int64_t(time.wMinute) * 60 + time.wSecond;
  days += seconds / SecondsPerDay;
  const double fraction = double(seconds % SecondsPerDay) / double(SecondsPerDay);
  *pvtime = days >= 0 ? double(days) + fraction : double(days) - fraction;
  return TRUE;
}

// Rounds to the nearest second; a time that rounds up to midnight belongs to
// the next day.
INT STDAPICALLTYPE VariantTimeToSystemTime(DOUBLE vtime, LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr || !(vtime > FirstDate && vtime < EndOfDates)) return FALSE;
  const double whole = std::trunc(vtime);
  int64_t days = static_cast<int64_t>(whole);
  int64_t seconds = static_cast<int64_t>(std::floor(std::fabs(vtime - whole) * double(SecondsPerDay) + 0.5));
  if (seconds >= SecondsPerDay) {
    ++days;
    seconds -= SecondsPerDay;
  }
  const int64_t dayFrom1970 = days + DayOfDate0;
  int64_t year, month, day;
  dateOfDayNumber(dayFrom1970, &year, &month, &day);
  SYSTEMTIME &time = *lpSystemTime;
  time.wYear = static_cast<WORD>(year);
  time.wMonth = static_cast<WORD>(month);
  time.wDay = static_cast<WORD>(day);
  time.wDayOfWeek = static_cast<WORD>(((dayFrom1970 % 7) + 7 + 4) % 7);  // 1 January 1970 was a Thursday
  time.wHour = static_cast<WORD>(seconds / 3600);
  time.wMinute = static_cast<WORD>(seconds / 60 % 60);
  time.wSecond = static_cast<WORD>(seconds % 60);
  time.wMilliseconds = 0;
  return TRUE;
}
