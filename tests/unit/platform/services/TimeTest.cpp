// A SYSTEMTIME as an automation DATE, as the component stamps its instances.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Stamp {
  WORD year, month, day, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

SYSTEMTIME timeOf(const Stamp &stamp, WORD dayOfWeek = 0) {
  return SYSTEMTIME{stamp.year, stamp.month,  dayOfWeek,    stamp.day,
                    stamp.hour, stamp.minute, stamp.second, stamp.milliseconds};
}

constexpr double Second = 1.0 / 86400;

}  // namespace

TEST(VariantTime, FromSystemTime) {
  const struct {
    Stamp time;
    double date;
  } cases[] = {
      {{1899, 12, 30}, 0.0},
      {{1900, 1, 1}, 2.0},
      {{1980, 1, 1, 6}, 29221.25},
      {{2000, 2, 29, 12}, 36585.5},
      {{1899, 12, 29, 6}, -1.25},  // before 1900 the time of day counts backwards
      {{100, 1, 1}, -657434.0},
      {{9999, 12, 31}, 2958465.0},
      {{2024, 3, 15, 13, 45, 30, 999}, 45366.0 + (13 * 3600 + 45 * 60 + 30) * Second},  // milliseconds dropped
      // Two-digit years fall between 1950 and 2049.
      {{0, 1, 1}, 36526.0},
      {{49, 1, 1}, 54424.0},
      {{50, 1, 1}, 18264.0},
      {{99, 1, 1}, 36161.0},
      {{101, 1, 1}, -657069.0},
      // Fields beyond their range carry into the next larger one.
      {{1980, 1, 0}, 29220.0},   // day 0 is the last day of the month before
      {{1980, 0, 1}, 29190.0},   // month 0 is December of the year before
      {{1980, 2, 31}, 29282.0},  // 31 February 1980 is 2 March
      {{1980, 1, 1, 25, 70, 70}, 29222.0 + (3600 + 70 * 60 + 70) * Second},
      {{9999, 12, 31, 24}, 2958466.0},  // the fields are checked, not the sum
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.time.year << "-" << c.time.month << "-" << c.time.day << " " << c.time.hour);
    SYSTEMTIME time = timeOf(c.time);
    double date = -12345.0;
    EXPECT_TRUE(SystemTimeToVariantTime(&time, &date));
    EXPECT_EQ(c.date, date);
  }
  for (const Stamp &stamp : {Stamp{1980, 13, 1}, Stamp{1980, 1, 32}, Stamp{10000, 1, 1}, Stamp{0xffff, 1, 1}}) {
    SYSTEMTIME time = timeOf(stamp);
    double date = 0;
    EXPECT_FALSE(SystemTimeToVariantTime(&time, &date)) << stamp.year << "-" << stamp.month << "-" << stamp.day;
  }
}
