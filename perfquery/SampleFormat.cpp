#include "SampleFormat.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace perfquery {
namespace {

using perfdata::CounterValue;

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

long long secondsOf(const std::tm &fields) {
  return daysFromCivil(fields.tm_year + 1900LL, static_cast<unsigned>(fields.tm_mon + 1),
                       static_cast<unsigned>(fields.tm_mday)) *
             86400 +
         fields.tm_hour * 3600LL + fields.tm_min * 60LL + fields.tm_sec;
}

std::string zoneOffset(int minutes, const char *separator) {
  char text[16];
  const int magnitude = minutes < 0 ? -minutes : minutes;
  snprintf(text, sizeof text, "%c%02d%s%02d", minutes < 0 ? '-' : '+', magnitude / 60, separator, magnitude % 60);
  return text;
}

std::string quoted(const std::string &cell) {
  std::string text = "\"";
  for (char c : cell) text += c == '"' ? std::string("\"\"") : std::string(1, c);
  return text + "\"";
}

}  // namespace

LocalTime localNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millisecond = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  // The program reads the clock on one thread only, so the runtime's shared
  // results of localtime and gmtime are safe here.
  const std::tm local = *std::localtime(&seconds);
  const std::tm universal = *std::gmtime(&seconds);
  LocalTime time;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.millisecond = static_cast<int>(millisecond < 0 ? millisecond + 1000 : millisecond);
  time.offsetMinutes = static_cast<int>((secondsOf(local) - secondsOf(universal)) / 60);
  char zone[128] = {};
  if (std::strftime(zone, sizeof zone, "%Z", &local) != 0) time.zone = zone;
  return time;
}

std::string csvTime(const LocalTime &time) {
  char text[64];
  snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d.%03d", time.month, time.day, time.year, time.hour,
           time.minute, time.second, time.millisecond);
  return text;
}

std::string tableTime(const LocalTime &time) {
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", time.year, time.month, time.day, time.hour,
           time.minute, time.second, time.millisecond);
  return text + zoneOffset(time.offsetMinutes, ":");
}

std::string isoTime(const LocalTime &time) {
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month, time.day, time.hour,
           time.minute, time.second, time.millisecond);
  return text + zoneOffset(time.offsetMinutes, ":");
}

std::string plainValue(const CounterValue &value) {
  char text[64];
  switch (value.form) {
    case CounterValue::Form::Integer:
    case CounterValue::Form::FirstRaw:
      snprintf(text, sizeof text, "%" PRIu64, static_cast<uint64_t>(value.integer));
      return text;
    case CounterValue::Form::Rate:
    case CounterValue::Form::Percent: snprintf(text, sizeof text, "%.6f", value.number); return text;
    case CounterValue::Form::Bytes: return perfdata::formatValue(value);
    case CounterValue::Form::Nothing:
    case CounterValue::Form::Undefined: break;
  }
  return "";
}

std::string jsonString(const std::string &value) {
  std::string text = "\"";
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      text += escape;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + "\"";
}

std::string jsonValue(const CounterValue &value) {
  switch (value.form) {
    case CounterValue::Form::Integer:
    case CounterValue::Form::FirstRaw:
    case CounterValue::Form::Rate:
    case CounterValue::Form::Percent: return plainValue(value);
    case CounterValue::Form::Bytes: return jsonString(plainValue(value));
    case CounterValue::Form::Nothing:
    case CounterValue::Form::Undefined: break;
  }
  return "null";
}

std::string headerRow(Format format, const LocalTime &time, const std::vector<std::string> &paths) {
  if (format != Format::Csv && format != Format::Tsv) return "";
  const char *separator = format == Format::Csv ? "," : "\t";
  std::string row = quoted(std::string(format == Format::Csv ? "(PDH-CSV 4.0)" : "(PDH-TSV 4.0)") + " (" + time.zone +
                           ")(" + std::to_string(-time.offsetMinutes) + ")");
  for (const std::string &path : paths) row += separator + quoted(path);
  return row + "\n";
}

std::string sampleRow(Format format, const LocalTime &time, const std::vector<std::string> &paths,
                      const std::vector<CounterValue> &values) {
  if (format == Format::Json) {
    std::string object = "{\"time\": " + jsonString(isoTime(time));
    for (size_t at = 0; at < paths.size() && at < values.size(); ++at) {
      object += ", " + jsonString(paths[at]) + ": " + jsonValue(values[at]);
    }
    return object + "}\n";
  }
  const char *separator = format == Format::Tsv ? "\t" : ",";
  std::string row = quoted(csvTime(time));
  for (const CounterValue &value : values) row += separator + quoted(plainValue(value));
  return row + "\n";
}

std::string renderTable(const std::vector<std::vector<std::string>> &rows, size_t firstNumeric) {
  auto width = [](const std::string &text) {
    size_t characters = 0;
    for (unsigned char byte : text) characters += (byte & 0xC0) != 0x80;
    return characters;
  };
  std::vector<size_t> widths;
  for (const auto &row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t column = 0; column < row.size(); ++column) {
      if (widths[column] < width(row[column])) widths[column] = width(row[column]);
    }
  }
  std::string table;
  for (const auto &row : rows) {
    std::string line;
    for (size_t column = 0; column < row.size(); ++column) {
      std::string padding(widths[column] - width(row[column]), ' ');
      if (column != 0) line += "  ";
      bool last = column + 1 == row.size();
      line += column >= firstNumeric ? padding + row[column] : row[column] + (last ? "" : padding);
    }
    table += line + "\n";
  }
  return table;
}

}  // namespace perfquery
