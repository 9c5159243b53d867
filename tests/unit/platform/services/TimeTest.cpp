// The clock and the conversions between a SYSTEMTIME and an automation DATE.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iomanip>

namespace {

SYSTEMTIME timeOf(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0,
                  WORD milliseconds = 0) {
  SYSTEMTIME time = {};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  time.wMilliseconds = milliseconds;
  return time;
}

::testing::AssertionResult toDate(SYSTEMTIME time, double expected) {
  double date = -12345.0;
  if (!SystemTimeToVariantTime(&time, &date))
    return ::testing::AssertionFailure() << time.wYear << "-" << time.wMonth << "-" << time.wDay << " refused";
  if (date != expected)
    return ::testing::AssertionFailure() << time.wYear << "-" << time.wMonth << "-" << time.wDay << " "
                                         << time.wHour << ":" << time.wMinute << ":" << time.wSecond << "."
                                         << time.wMilliseconds << " gave " << std::setprecision(17) << date;
  return ::testing::AssertionSuccess();
}

bool refused(SYSTEMTIME time) {
  double date = -12345.0;
  return !SystemTimeToVariantTime(&time, &date);
}

// A dayOfWeek of 7 leaves the day of the week unchecked.
::testing::AssertionResult toTime(double date, SYSTEMTIME expected, WORD dayOfWeek) {
  SYSTEMTIME time;
  if (!VariantTimeToSystemTime(date, &time)) return ::testing::AssertionFailure() << date << " refused";
  expected.wDayOfWeek = dayOfWeek == 7 ? time.wDayOfWeek : dayOfWeek;
  if (std::memcmp(&time, &expected, sizeof time) != 0)
    return ::testing::AssertionFailure() << std::setprecision(17) << date << " gave " << time.wYear << "-"
                                         << time.wMonth << "-" << time.wDay << " (" << time.wDayOfWeek << ") "
                                         << time.wHour << ":" << time.wMinute << ":" << time.wSecond << "."
                                         << time.wMilliseconds;
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(VariantTime, FromSystemTime) {
  EXPECT_TRUE(toDate(timeOf(1899, 12, 30), 0.0));
  EXPECT_TRUE(toDate(timeOf(1900, 1, 1), 2.0));
  EXPECT_TRUE(toDate(timeOf(1980, 1, 1), 29221.0));
  EXPECT_TRUE(toDate(timeOf(1980, 1, 1, 6), 29221.25));
  EXPECT_TRUE(toDate(timeOf(2000, 2, 29, 12), 36585.5));
  EXPECT_TRUE(toDate(timeOf(1899, 12, 29, 6), -1.25)) << "before 1900 the time of day counts backwards";
  EXPECT_TRUE(toDate(timeOf(100, 1, 1), -657434.0));
  EXPECT_TRUE(toDate(timeOf(9999, 12, 31), 2958465.0));
  EXPECT_TRUE(toDate(timeOf(2024, 3, 15, 13, 45, 30, 999), 45366.0 + (13 * 3600 + 45 * 60 + 30) / 86400.0))
      << "milliseconds are dropped";
  // Two-digit years fall between 1950 and 2049.
  EXPECT_TRUE(toDate(timeOf(0, 1, 1), 36526.0));
  EXPECT_TRUE(toDate(timeOf(29, 1, 1), 47119.0));
  EXPECT_TRUE(toDate(timeOf(49, 1, 1), 54424.0));
  EXPECT_TRUE(toDate(timeOf(50, 1, 1), 18264.0));
  EXPECT_TRUE(toDate(timeOf(99, 1, 1), 36161.0));
  EXPECT_TRUE(toDate(timeOf(101, 1, 1), -657069.0));
  // Fields beyond their range carry into the next larger one.
  EXPECT_TRUE(toDate(timeOf(1980, 1, 0), 29220.0)) << "day 0 is the last day of the month before";
  EXPECT_TRUE(toDate(timeOf(1980, 0, 1), 29190.0)) << "month 0 is December of the year before";
  EXPECT_TRUE(toDate(timeOf(1980, 2, 31), 29282.0)) << "31 February 1980 is 2 March";
  EXPECT_TRUE(toDate(timeOf(1980, 1, 1, 24), 29222.0));
  EXPECT_TRUE(toDate(timeOf(1980, 1, 1, 25, 70, 70), 29222.0 + (3600 + 70 * 60 + 70) / 86400.0));
  EXPECT_TRUE(toDate(timeOf(9999, 12, 31, 24), 2958466.0)) << "the fields are checked, not the sum";

  EXPECT_TRUE(refused(timeOf(1980, 13, 1)));
  EXPECT_TRUE(refused(timeOf(1980, 1, 32)));
  EXPECT_TRUE(refused(timeOf(10000, 1, 1)));
  EXPECT_TRUE(refused(timeOf(static_cast<WORD>(-1), 1, 1)));
}

TEST(VariantTime, ToSystemTime) {
  EXPECT_TRUE(toTime(0.0, timeOf(1899, 12, 30), 6));
  EXPECT_TRUE(toTime(29221.25, timeOf(1980, 1, 1, 6), 2));
  EXPECT_TRUE(toTime(29221.0 + 1.0 / 3, timeOf(1980, 1, 1, 8), 2));
  EXPECT_TRUE(toTime(-1.25, timeOf(1899, 12, 29, 6), 5));
  EXPECT_TRUE(toTime(-657434.0, timeOf(100, 1, 1), 5));
  EXPECT_TRUE(toTime(2958465.0 + 86399.0 / 86400, timeOf(9999, 12, 31, 23, 59, 59), 5));
  // Rounded to the nearest second.
  EXPECT_TRUE(toTime(29221.0 + 10.4 / 86400, timeOf(1980, 1, 1, 0, 0, 10), 2));
  EXPECT_TRUE(toTime(29221.0 + 10.6 / 86400, timeOf(1980, 1, 1, 0, 0, 11), 2));
  // A time that rounds up to midnight moves to the next day. (Wine keeps the
  // day of the week of the day before; it is not checked here.)
  EXPECT_TRUE(toTime(29221.0 + 86399.7 / 86400, timeOf(1980, 1, 2), 7));
  EXPECT_TRUE(toTime(-0.9999999, timeOf(1899, 12, 31), 7));
  EXPECT_TRUE(toTime(2958465.9999999, timeOf(10000, 1, 1), 7));
  EXPECT_TRUE(toTime(-0.5, timeOf(1899, 12, 30, 12), 6));
  EXPECT_TRUE(toTime(-657434.5, timeOf(100, 1, 1, 12), 5));

  SYSTEMTIME time;
  EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &time));
  EXPECT_FALSE(VariantTimeToSystemTime(-657435.0, &time));
  EXPECT_FALSE(VariantTimeToSystemTime(1e10, &time));
  EXPECT_FALSE(VariantTimeToSystemTime(-1e10, &time));
}

TEST(Clock, LocalTimeRoundTripsThroughAVariantTime) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
  EXPECT_TRUE(now.wMonth >= 1 && now.wMonth <= 12);
  EXPECT_TRUE(now.wDay >= 1 && now.wDay <= 31);
  EXPECT_LT(now.wHour, 24);
  EXPECT_LT(now.wMinute, 60);
  EXPECT_LT(now.wSecond, 60);
  EXPECT_LT(now.wMilliseconds, 1000);

  double date = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&now, &date));
  SYSTEMTIME back;
  ASSERT_TRUE(VariantTimeToSystemTime(date, &back));
  SYSTEMTIME expected = now;
  expected.wMilliseconds = 0;
  EXPECT_EQ(0, std::memcmp(&expected, &back, sizeof back)) << "the day of the week included";

  // UTC differs from local time by whole quarter hours, and by less than a day.
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  double utcDate = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&utc, &utcDate));
  ASSERT_TRUE(SystemTimeToVariantTime(&now, &date));
  const double offsetMinutes = (date - utcDate) * 1440.0;
  EXPECT_LT(std::abs(offsetMinutes), 1440.0);
  const double quarters = offsetMinutes / 15.0;
  EXPECT_NEAR(quarters, std::round(quarters), 0.1) << offsetMinutes;
}

TEST(Clock, TickCountAdvancesAcrossASleep) {
  const DWORD before = GetTickCount();
  Sleep(30);
  const DWORD after = GetTickCount();
  EXPECT_GE(after - before, 15u) << "Sleep returned before its time";
  EXPECT_GE(GetTickCount64(), static_cast<ULONGLONG>(after));
}
