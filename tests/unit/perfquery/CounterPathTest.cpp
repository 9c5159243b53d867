// Counter paths read, matched and expanded against a data block, and samples
// written as CSV, TSV and JSON.
#include <gtest/gtest.h>

#include <windows.h>
#include <winperf.h>

#include <string>

#include "CounterPath.h"
#include "SampleFormat.h"
#include "Utf8Text.h"

namespace {

using commandline::fromUtf8;
using commandline::toUtf8;
using perfdata::CounterValue;

std::string parsedParts(const char *text) {
  perfquery::CounterPath path;
  std::string problem;
  if (!perfquery::parseCounterPath(fromUtf8(text), path, problem)) return "error: " + problem;
  return toUtf8(path.machine) + "|" + toUtf8(path.object) + "|" + (path.hasInstance ? toUtf8(path.instance) : "-") +
         "|" + toUtf8(path.counter);
}

perfdata::NameTable namesOf(const std::string &pairs) {
  // A REG_MULTI_SZ of index and name pairs, as "Counter 009" holds it.
  std::basic_string<WCHAR> text = fromUtf8(pairs);
  for (auto &c : text)
    if (c == '|') c = 0;
  text.push_back(0);
  text.push_back(0);
  perfdata::NameTable names;
  std::string problem;
  names.add(reinterpret_cast<const BYTE *>(text.data()), text.size() * sizeof(WCHAR), problem);
  return names;
}

perfdata::CounterDefinition counter(DWORD index, DWORD type) {
  perfdata::CounterDefinition definition;
  definition.nameIndex = index;
  definition.type = type;
  return definition;
}

perfdata::Instance instance(const char *name) {
  perfdata::Instance result;
  result.name = fromUtf8(name);
  return result;
}

std::vector<std::string> expanded(const char *text, const perfdata::DataBlock &block,
                                  const perfdata::NameTable &names) {
  perfquery::CounterPath path;
  std::string problem;
  EXPECT_TRUE(perfquery::parseCounterPath(fromUtf8(text), path, problem)) << problem;
  std::vector<std::string> paths;
  for (const perfquery::Selection &selection : perfquery::expandPath(path, block, names, problem))
    paths.push_back(toUtf8(selection.path));
  if (paths.empty()) paths.push_back("none: " + problem);
  return paths;
}

}  // namespace

TEST(CounterPath, ReadsThePartsOfAPathAndRefusesWhatIsNotOne) {
  EXPECT_EQ("|Memory|-|Heap Bytes", parsedParts("\\Memory\\Heap Bytes"));
  EXPECT_EQ("|Sessions|*|Requests/sec", parsedParts("\\Sessions(*)\\Requests/sec"));
  EXPECT_EQ("HOST|Process|svchost (12)\\x#1|% Time", parsedParts("\\\\HOST\\Process(svchost (12)\\x#1)\\% Time"));
  EXPECT_EQ("|#230|*|#232", parsedParts("\\#230(*)\\#232"));
  EXPECT_EQ(0u, parsedParts("Memory\\Heap").rfind("error: a counter path begins with a backslash", 0));
  EXPECT_EQ(0u, parsedParts("\\Memory").rfind("error: the path names no counter", 0));
  EXPECT_EQ(0u, parsedParts("\\(x)\\C").rfind("error: the object's name is empty", 0));
  EXPECT_EQ(0u, parsedParts("\\M()\\C").rfind("error: the instance's name is empty", 0));
  EXPECT_EQ(0u, parsedParts("\\M(x\\C").rfind("error: the instance has no closing parenthesis", 0));
  EXPECT_EQ(0u, parsedParts("\\M(x)\\").rfind("error: the counter's name is empty", 0));
  EXPECT_EQ(0u, parsedParts("\\\\HOST").rfind("error: a machine name must be followed", 0));

  EXPECT_TRUE(perfquery::matchesPattern(fromUtf8("*"), fromUtf8("")));
  EXPECT_TRUE(perfquery::matchesPattern(fromUtf8("client-*"), fromUtf8("CLIENT-12")));
  EXPECT_TRUE(perfquery::matchesPattern(fromUtf8("*a*b"), fromUtf8("xxaxxabab")));
  EXPECT_FALSE(perfquery::matchesPattern(fromUtf8("*a*b"), fromUtf8("xxaxxaba")));
  EXPECT_FALSE(perfquery::matchesPattern(fromUtf8("client"), fromUtf8("client-1")));
}

TEST(CounterPath, ExpandsStarsByNameOrIndexInTheOrderOfInstancesAndCounters) {
  const perfdata::NameTable names = namesOf("230|Sessions|232|Requests/sec|234|Requests Base|236|Active|240|Memory");
  perfdata::DataBlock block;
  block.systemName = fromUtf8("HOST");
  perfdata::Object sessions;
  sessions.nameIndex = 230;
  sessions.numInstances = 3;
  sessions.counters = {counter(232, PERF_COUNTER_COUNTER), counter(234, PERF_RAW_BASE),
                       counter(236, PERF_COUNTER_RAWCOUNT)};
  sessions.instances = {instance("a"), instance("b"), instance("a")};
  perfdata::Object memory;
  memory.nameIndex = 240;
  memory.counters = {counter(242, PERF_COUNTER_LARGE_RAWCOUNT)};
  block.objects = {sessions, memory};

  // The base counter is shown only when named; the second "a" is a#1.
  EXPECT_EQ((std::vector<std::string>{"\\\\HOST\\Sessions(a)\\Requests/sec", "\\\\HOST\\Sessions(a)\\Active",
                                      "\\\\HOST\\Sessions(b)\\Requests/sec", "\\\\HOST\\Sessions(b)\\Active",
                                      "\\\\HOST\\Sessions(a#1)\\Requests/sec", "\\\\HOST\\Sessions(a#1)\\Active"}),
            expanded("\\sessions(*)\\*", block, names));
  EXPECT_EQ((std::vector<std::string>{"\\\\HOST\\Sessions(a#1)\\Requests Base"}),
            expanded("\\#230(a#1)\\Requests Base", block, names));
  EXPECT_EQ((std::vector<std::string>{"\\\\HOST\\Sessions(b)\\Active"}), expanded("\\Sessions(B)\\236", block, names));
  // An index without a name shows as the index; "(*)" takes an object without instances too.
  EXPECT_EQ((std::vector<std::string>{"\\\\HOST\\Memory\\#242"}), expanded("\\Memory(*)\\*", block, names));
  EXPECT_EQ((std::vector<std::string>{"\\\\HOST\\Memory\\#242"}), expanded("\\Memory\\#242", block, names));

  EXPECT_EQ("none: no performance object of that name is in the data", expanded("\\Disk\\*", block, names)[0]);
  EXPECT_EQ("none: the object has no instance of that name", expanded("\\Sessions(c)\\*", block, names)[0]);
  EXPECT_EQ("none: the object has instances: name one, or * for every one", expanded("\\Sessions\\*", block, names)[0]);
  EXPECT_EQ("none: the object has no counter of that name", expanded("\\Memory\\Free", block, names)[0]);

  // Two objects of one index (two hosts of one name, or none of them
  // named): each selection's definition is its own counter's, even past
  // the end of the first object's counters.
  perfdata::Object second;
  second.nameIndex = 240;
  second.counters = {counter(244, PERF_COUNTER_RAWCOUNT), counter(246, PERF_COUNTER_BULK_COUNT)};
  block.objects.push_back(second);
  perfquery::CounterPath path;
  std::string problem;
  ASSERT_TRUE(perfquery::parseCounterPath(fromUtf8("\\Memory\\*"), path, problem));
  const std::vector<perfquery::Selection> found = perfquery::expandPath(path, block, names, problem);
  ASSERT_EQ(3u, found.size());
  EXPECT_EQ(1u, found[2].counterPosition);
  const perfdata::CounterDefinition *bulk = perfquery::selectedDefinition(block, found[2]);
  ASSERT_NE(nullptr, bulk);
  EXPECT_EQ(246u, bulk->nameIndex);
  EXPECT_EQ(static_cast<DWORD>(PERF_COUNTER_BULK_COUNT), bulk->type);
  perfquery::Selection gone = found[2];
  gone.counterIndex = 248;
  EXPECT_EQ(nullptr, perfquery::selectedDefinition(block, gone));
}

TEST(SampleFormat, WritesTheSystemReadersCsvAndTsvAndOneJsonObjectASample) {
  perfquery::LocalTime time;
  time.year = 2024, time.month = 5, time.day = 31, time.hour = 13, time.minute = 45, time.second = 2;
  time.millisecond = 47, time.offsetMinutes = 120, time.zone = "W. Europe Daylight Time";
  EXPECT_EQ("05/31/2024 13:45:02.047", perfquery::csvTime(time));
  EXPECT_EQ("2024-05-31 13:45:02.047 +02:00", perfquery::tableTime(time));
  time.offsetMinutes = -330;
  EXPECT_EQ("2024-05-31T13:45:02.047-05:30", perfquery::isoTime(time));
  time.offsetMinutes = 120;

  const std::vector<std::string> paths = {"\\\\H\\M\\Rate", "\\\\H\\M(\"q\")\\Count", "\\\\H\\M\\Gone"};
  CounterValue rate, count, gone;
  rate.form = CounterValue::Form::Rate, rate.number = 12.5;
  count.form = CounterValue::Form::Integer, count.integer = 18446744073709551615ull;
  gone.form = CounterValue::Form::Undefined;
  const std::vector<CounterValue> values = {rate, count, gone};

  EXPECT_EQ(
      "\"(PDH-CSV 4.0) (W. Europe Daylight Time)(-120)\",\"\\\\H\\M\\Rate\",\"\\\\H\\M(\"\"q\"\")\\Count\","
      "\"\\\\H\\M\\Gone\"\n",
      perfquery::headerRow(perfquery::Format::Csv, time, paths));
  EXPECT_EQ("\"05/31/2024 13:45:02.047\",\"12.500000\",\"18446744073709551615\",\"\"\n",
            perfquery::sampleRow(perfquery::Format::Csv, time, paths, values));
  EXPECT_EQ(0u, perfquery::headerRow(perfquery::Format::Tsv, time, paths).rfind("\"(PDH-TSV 4.0) (W. Europe", 0));
  EXPECT_EQ("\"05/31/2024 13:45:02.047\"\t\"12.500000\"\t\"18446744073709551615\"\t\"\"\n",
            perfquery::sampleRow(perfquery::Format::Tsv, time, paths, values));
  EXPECT_EQ("", perfquery::headerRow(perfquery::Format::Json, time, paths));
  EXPECT_EQ(
      "{\"time\": \"2024-05-31T13:45:02.047+02:00\", \"\\\\\\\\H\\\\M\\\\Rate\": 12.500000, "
      "\"\\\\\\\\H\\\\M(\\\"q\\\")\\\\Count\": 18446744073709551615, \"\\\\\\\\H\\\\M\\\\Gone\": null}\n",
      perfquery::sampleRow(perfquery::Format::Json, time, paths, values));
}
