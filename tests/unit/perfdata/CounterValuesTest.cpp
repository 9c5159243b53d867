// The name table and the values shown for counters.
#include <gtest/gtest.h>
#include <windows.h>
#include <winperf.h>

#include <cstring>
#include <string>
#include <vector>

#include "CounterValues.h"
#include "NameTable.h"

using namespace perfdata;

namespace {

// The bytes of a REG_MULTI_SZ written as one literal, without the
// literal's own terminator.
template <size_t Length> std::vector<BYTE> multiString(const char16_t (&text)[Length]) {
  std::vector<BYTE> bytes((Length - 1) * sizeof(char16_t));
  memcpy(bytes.data(), text, bytes.size());
  return bytes;
}

Instance named(const WCHAR *name) {
  Instance instance;
  instance.name = name;
  return instance;
}

CounterBlock counterBlock(std::vector<ULONGLONG> eightByteSlots) {
  CounterBlock block;
  block.bytes.resize(8 + eightByteSlots.size() * 8);
  DWORD length = static_cast<DWORD>(block.bytes.size());
  memcpy(block.bytes.data(), &length, sizeof length);
  memcpy(block.bytes.data() + 8, eightByteSlots.data(), eightByteSlots.size() * 8);
  return block;
}

CounterDefinition definition(DWORD type, DWORD size, DWORD offset) {
  CounterDefinition counter;
  counter.type = type;
  counter.size = size;
  counter.counterOffset = offset;
  return counter;
}

std::vector<std::string> shown(const std::vector<CounterValue> &values) {
  std::vector<std::string> texts;
  for (const CounterValue &value : values) texts.push_back(formatValue(value));
  return texts;
}

}  // namespace

TEST(NameTable, ReadsPairsAndShowsMissingNamesAsTheirIndex) {
  NameTable names;
  std::string problem;
  // The table Wine 8 has, then names as lodctr installs them.
  auto table = multiString(
      u"1\0"
      u"1847\0"
      u"1846\0"
      u"End Marker\0"
      u"5000\0"
      u"Requests\0"
      u"5002\0"
      u"Queue\0\0");
  ASSERT_TRUE(names.add(table.data(), table.size(), problem)) << problem;
  EXPECT_EQ(Text(OLESTR("Requests")), names.name(5000));
  EXPECT_EQ(Text(OLESTR("#5004")), names.name(5004));
  EXPECT_FALSE(names.has(5004));
  EXPECT_EQ(std::vector<DWORD>{5000}, names.indicesNamed(OLESTR("rEQUESTS")));
  EXPECT_TRUE(names.indicesNamed(OLESTR("Request")).empty());

  // A bad index stops the reading with its entry; the pairs before it stay.
  NameTable damaged;
  auto badIndex = multiString(
      u"7\0"
      u"Seven\0"
      u"x8\0"
      u"Eight\0\0");
  EXPECT_FALSE(damaged.add(badIndex.data(), badIndex.size(), problem));
  EXPECT_EQ("name table entry 3: the index is not a decimal number of 32 bits", problem);
  EXPECT_EQ(Text(OLESTR("Seven")), damaged.name(7));
  auto noText = multiString(u"9\0");
  EXPECT_FALSE(damaged.add(noText.data(), noText.size(), problem));
  EXPECT_EQ("name table: index 9 has no text after it", problem);

  DWORD index = 0;
  EXPECT_TRUE(parseIndex(OLESTR("#1234"), index));
  EXPECT_EQ(1234u, index);
  for (const WCHAR *bad : {OLESTR("4294967296"), OLESTR("#"), OLESTR("12a")}) EXPECT_FALSE(parseIndex(bad, index));
}

TEST(CounterValues, RatesPercentagesAndRawValuesAreShownByType) {
  // Slots after the ByteLength: 8 = DWORD count, 16 = 64-bit count,
  // 24 = fraction, 28 = its base, 32 = raw count, 40 = bytes.
  const std::vector<CounterDefinition> counters = {
      definition(PERF_COUNTER_COUNTER, 4, 8),         definition(PERF_COUNTER_BULK_COUNT, 8, 16),
      definition(PERF_RAW_FRACTION, 4, 24),           definition(PERF_RAW_BASE, 4, 28),
      definition(PERF_COUNTER_LARGE_RAWCOUNT, 8, 32), definition(PERF_COUNTER_TEXT, 3, 40),
      definition(PERF_COUNTER_NODATA, 0, 8)};
  CounterBlock first = counterBlock({0xFFFFFFF0ull, 1000, 1ull | (4ull << 32), 7, 0x636261});
  CounterBlock second = counterBlock({0x10ull, 1000 + 300, 0ull, 7, 0x636261});
  Sample before{&first, 10000, 1000};
  Sample now{&second, 10500, 1000};

  EXPECT_EQ((std::vector<std::string>{"4294967280 (raw)", "1000 (raw)", "25.00%", "4", "7", "61 62 63", "-"}),
            shown(displayValues(counters, before, nullptr)));
  // Half a second later the DWORD count went down (a _Total whose instance
  // closed, or a wrap: neither is a rate) and the 64-bit one went up by 300;
  // a fraction over a base of 0 has no value.
  EXPECT_EQ((std::vector<std::string>{"-", "600.00/s", "-", "0", "7", "61 62 63", "-"}),
            shown(displayValues(counters, now, &before)));
  // The next sample counts from the one that went down; a 64-bit count
  // that goes down has no rate either.
  CounterBlock third = counterBlock({0x10ull + 100, 1000 + 299, 0ull, 7, 0x636261});
  Sample later{&third, 11000, 1000};
  EXPECT_EQ("200.00/s", shown(displayValues(counters, later, &now))[0]);
  EXPECT_EQ("-", shown(displayValues(counters, later, &now))[1]);
  // A clock that did not advance, or has no frequency, gives no rate.
  Sample stopped{&second, 10000, 1000};
  Sample noFrequency{&second, 10500, 0};
  EXPECT_EQ("-", shown(displayValues(counters, stopped, &before))[1]);
  EXPECT_EQ("-", shown(displayValues(counters, noFrequency, &before))[1]);
  // An object with a clock of its own is timed by it, any other by its block's.
  Object timed;
  DataBlock block;
  block.perfTime = 50;
  block.perfFreq = 10;
  EXPECT_EQ(50, sampleOf(first, timed, block).perfTime);
  timed.perfTime = 7;
  timed.perfFreq = 1000;
  const Sample own = sampleOf(first, timed, block);
  EXPECT_TRUE(own.perfTime == 7 && own.perfFreq == 1000 && own.counters == &first);
  // A fraction whose base is not the next counter has none.
  EXPECT_EQ("-", shown(displayValues({counters[2]}, before, nullptr))[0]);
}

TEST(CounterValues, InstancesOfTwoSamplesAreMatchedByNameAndPlace) {
  Object before, now;
  for (const WCHAR *name : {OLESTR("a"), OLESTR("b"), OLESTR("a")}) before.instances.push_back(named(name));
  for (const WCHAR *name : {OLESTR("a"), OLESTR("c"), OLESTR("a"), OLESTR("a")}) now.instances.push_back(named(name));
  std::vector<const Instance *> matches = matchInstances(before, now);
  ASSERT_EQ(4u, matches.size());
  EXPECT_EQ(&before.instances[0], matches[0]);
  EXPECT_EQ(nullptr, matches[1]);
  EXPECT_EQ(&before.instances[2], matches[2]);
  EXPECT_EQ(nullptr, matches[3]);
}
