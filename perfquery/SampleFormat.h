// How perfquery writes samples: the moment a sample was taken, in local time
// with its zone, and the layouts CSV and TSV (the system's reader's: a header
// of full counter paths, one row a sample, every value quoted), JSON (one
// object a sample) and TABLE (aligned columns for people).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "CounterValues.h"

namespace perfquery {

enum class Format { Table, Csv, Tsv, Json };

// A moment in local time, with the zone it was read in.
struct LocalTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
  // Minutes local time is ahead of UTC (+60 for UTC+01:00).
  int offsetMinutes = 0;
  // The zone's name as the system gives it; may be empty.
  std::string zone;
};

LocalTime localNow();

// "05/31/2024 13:45:02.047", as rows of CSV and TSV begin.
std::string csvTime(const LocalTime &time);
// "2024-05-31 13:45:02.047 +02:00", as tables show it.
std::string tableTime(const LocalTime &time);
// "2024-05-31T13:45:02.047+02:00" (ISO 8601), as JSON holds it.
std::string isoTime(const LocalTime &time);

// A value as tools read it: a plain number without unit ("42", "12.500000"
// per second, "37.500000" percent), bytes in hex, and the empty text for no
// value in this sample.
std::string plainValue(const perfdata::CounterValue &value);

// A JSON string of UTF-8 text, and a value as JSON holds it: numbers as
// numbers, bytes as a string in hex, no value as null.
std::string jsonString(const std::string &value);
std::string jsonValue(const perfdata::CounterValue &value);

// The header row of CSV or TSV: "(PDH-CSV 4.0) (zone)(bias)" and the paths,
// every cell quoted, bias being the minutes UTC is ahead of local time, as the
// system gives it. Empty for the other formats.
std::string headerRow(Format format, const LocalTime &time, const std::vector<std::string> &paths);

// One sample: a CSV or TSV row, or a JSON object on one line
// ({"time": ..., "path": value, ...}; numbers as numbers, no value as null).
// Each ends with a line feed.
std::string sampleRow(Format format, const LocalTime &time, const std::vector<std::string> &paths,
                      const std::vector<perfdata::CounterValue> &values);

// Text columns padded to their widest cell; columns from `firstNumeric` on
// are aligned to the right. Widths count characters, not UTF-8 bytes.
std::string renderTable(const std::vector<std::vector<std::string>> &rows, size_t firstNumeric);

}  // namespace perfquery
