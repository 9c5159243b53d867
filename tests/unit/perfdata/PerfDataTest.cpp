// The strict walk of a data block, against blocks built here byte by byte,
// and the repair of Wine 8's misplaced first object.
#include <gtest/gtest.h>
#include <windows.h>
#include <winperf.h>

#include <cstring>

#include "PerfData.h"
#include "PerfReader.h"

using namespace perfdata;

namespace {

// A data block of two objects: #5000 without instances, whose counters are
// a DWORD count and a 64-bit rate; #6000 with a fraction and its base for
// the instances "ab" and "_Total", whose names need padding.
struct TestBlock {
  std::vector<BYTE> bytes;
  size_t object1 = 0, object2 = 0, instance1 = 0, instance2 = 0;

  template <typename T> size_t add(const T &value) {
    size_t at = bytes.size();
    bytes.resize(at + sizeof value);
    memcpy(bytes.data() + at, &value, sizeof value);
    return at;
  }
  template <typename T> void set(size_t at, T value) { memcpy(bytes.data() + at, &value, sizeof value); }
  size_t addName(const WCHAR *name) {
    size_t at = bytes.size();
    for (const WCHAR *unit = name;; ++unit) {
      add(*unit);
      if (*unit == 0) break;
    }
    bytes.resize((bytes.size() + 7) & ~size_t{7}, 0);
    return at;
  }
  size_t addObject(DWORD index, std::vector<PERF_COUNTER_DEFINITION> counters, LONG instances) {
    PERF_OBJECT_TYPE object{};
    object.HeaderLength = sizeof object;
    object.DefinitionLength = static_cast<DWORD>(sizeof object + counters.size() * sizeof(PERF_COUNTER_DEFINITION));
    object.ObjectNameTitleIndex = index;
    object.ObjectHelpTitleIndex = index + 1;
    object.DetailLevel = PERF_DETAIL_NOVICE;
    object.NumCounters = static_cast<DWORD>(counters.size());
    object.NumInstances = instances;
    size_t at = add(object);
    for (const auto &counter : counters) add(counter);
    return at;
  }
  void addCounterBlock(DWORD first, DWORD second, ULONGLONG wide) {
    add(DWORD{16});
    add(first);
    if (wide != 0) {
      add(wide);
    } else {
      add(second);
      add(DWORD{0});
    }
  }
  void addInstance(const WCHAR *name, DWORD fraction, DWORD base) {
    size_t at = add(PERF_INSTANCE_DEFINITION{0, 0, 0, PERF_NO_UNIQUE_ID, sizeof(PERF_INSTANCE_DEFINITION),
                                             static_cast<DWORD>((lstrlenW(name) + 1) * sizeof(WCHAR))});
    addName(name);
    set<DWORD>(at, static_cast<DWORD>(bytes.size() - at));
    addCounterBlock(fraction, base, 0);
  }
  void closeObject(size_t at) { set<DWORD>(at, static_cast<DWORD>(bytes.size() - at)); }

  static PERF_COUNTER_DEFINITION counter(DWORD index, DWORD type, DWORD size, DWORD offset) {
    return {sizeof(PERF_COUNTER_DEFINITION), index, 0, index + 1, 0, 0, PERF_DETAIL_NOVICE, type, size, offset};
  }

  TestBlock() {
    PERF_DATA_BLOCK header{};
    memcpy(header.Signature, OLESTR("PERF"), sizeof header.Signature);
    header.LittleEndian = 1;
    header.Version = PERF_DATA_VERSION;
    header.Revision = PERF_DATA_REVISION;
    header.NumObjectTypes = 2;
    header.PerfTime.QuadPart = 5000;
    header.PerfFreq.QuadPart = 1000;
    header.SystemNameLength = 3 * sizeof(WCHAR);
    header.SystemNameOffset = sizeof header;
    add(header);
    addName(OLESTR("PC"));
    set<DWORD>(offsetof(PERF_DATA_BLOCK, HeaderLength), static_cast<DWORD>(bytes.size()));

    object1 =
        addObject(5000, {counter(5002, PERF_COUNTER_RAWCOUNT, 4, 4), counter(5004, PERF_COUNTER_BULK_COUNT, 8, 8)},
                  PERF_NO_INSTANCES);
    addCounterBlock(42, 0, 0x1122334455667788ull);
    closeObject(object1);

    object2 = addObject(6000, {counter(6002, PERF_RAW_FRACTION, 4, 4), counter(6004, PERF_RAW_BASE, 4, 8)}, 2);
    instance1 = bytes.size();
    addInstance(OLESTR("ab"), 1, 4);
    instance2 = bytes.size();
    addInstance(OLESTR("_Total"), 3, 8);
    closeObject(object2);
    set<DWORD>(offsetof(PERF_DATA_BLOCK, TotalByteLength), static_cast<DWORD>(bytes.size()));
  }
};

std::string problemOf(const std::vector<BYTE> &bytes, size_t size) {
  DataBlock block;
  std::string problem;
  EXPECT_FALSE(parseDataBlock(bytes.data(), size, block, problem));
  return problem;
}

}  // namespace

TEST(PerfData, ValidBlockGivesEveryField) {
  TestBlock test;
  DataBlock block;
  std::string problem = "unchanged";
  ASSERT_TRUE(parseDataBlock(test.bytes.data(), test.bytes.size(), block, problem)) << problem;
  EXPECT_EQ("", problem);
  EXPECT_EQ(504u, block.totalByteLength);
  EXPECT_EQ(96u, block.headerLength);
  EXPECT_EQ(Text(OLESTR("PC")), block.systemName);
  EXPECT_EQ(5000, block.perfTime);
  ASSERT_EQ(2u, block.objects.size());

  const Object &plain = block.objects[0];
  EXPECT_EQ(96u, plain.offset);
  EXPECT_EQ(5000u, plain.nameIndex);
  EXPECT_EQ(5001u, plain.helpIndex);
  EXPECT_FALSE(plain.hasInstances());
  ASSERT_EQ(2u, plain.counters.size());
  EXPECT_EQ(static_cast<DWORD>(PERF_COUNTER_BULK_COUNT), plain.counters[1].type);
  EXPECT_EQ(8u, plain.counters[1].counterOffset);
  EXPECT_EQ(5004u, plain.counters[1].nameIndex);
  EXPECT_EQ(240u, plain.counterBlock.offset);
  ASSERT_EQ(16u, plain.counterBlock.bytes.size());
  ULONGLONG wide = 0;
  memcpy(&wide, plain.counterBlock.bytes.data() + 8, sizeof wide);
  EXPECT_EQ(0x1122334455667788ull, wide);

  const Object *withInstances = block.findObject(6000);
  ASSERT_NE(nullptr, withInstances);
  EXPECT_EQ(256u, withInstances->offset);
  EXPECT_EQ(248u, withInstances->totalByteLength);
  EXPECT_EQ(144u, withInstances->definitionLength);
  ASSERT_EQ(2u, withInstances->instances.size());
  const Instance &total = withInstances->instances[1];
  EXPECT_EQ(Text(OLESTR("_Total")), total.name);
  EXPECT_EQ(448u, total.offset);
  EXPECT_EQ(488u, total.counters.offset);
  EXPECT_EQ(nullptr, block.findObject(7000));
}

TEST(PerfData, EveryInconsistencyIsRefusedWithItsStructureAndField) {
  const TestBlock valid;
  const size_t counter1 = valid.object1 + sizeof(PERF_OBJECT_TYPE);
  const size_t counter2 = counter1 + sizeof(PERF_COUNTER_DEFINITION);
  struct Damage {
    size_t at;
    DWORD value;
    const char *problem;
    bool character = false;  // a name's UTF-16 unit, two bytes wide
  };
  const Damage damages[] = {
      {0, 'X', "PERF_DATA_BLOCK: Signature is not \"PERF\""},
      {offsetof(PERF_DATA_BLOCK, TotalByteLength), 512, "PERF_DATA_BLOCK: TotalByteLength 512 past the 504 bytes read"},
      {offsetof(PERF_DATA_BLOCK, SystemNameLength), 10,
       "PERF_DATA_BLOCK: system name (SystemNameOffset 88, SystemNameLength 10) outside the header's 88-96"},
      {offsetof(PERF_DATA_BLOCK, NumObjectTypes), 1,
       "PERF_DATA_BLOCK: its 1 objects end at offset 256 but TotalByteLength is 504"},
      {valid.object1 + offsetof(PERF_OBJECT_TYPE, TotalByteLength), 168,
       "object 1: its data ends at 160 from its start but TotalByteLength is 168"},
      {valid.object2 + offsetof(PERF_OBJECT_TYPE, DefinitionLength), 300,
       "object 2: DefinitionLength 300 past TotalByteLength 248"},
      {valid.object1 + offsetof(PERF_OBJECT_TYPE, NumCounters), 3,
       "object 1 counter 3: PERF_COUNTER_DEFINITION at offset 240 needs 40 bytes, only 0 left before the object's "
       "DefinitionLength"},
      {valid.object2 + offsetof(PERF_OBJECT_TYPE, NumInstances), static_cast<DWORD>(-2),
       "object 2: NumInstances -2 is neither a count nor PERF_NO_INSTANCES"},
      {counter2 + offsetof(PERF_COUNTER_DEFINITION, CounterSize), 4,
       "object 1 counter 2: CounterSize 4 but its type 0x10410500 holds 8 bytes"},
      {counter2 + offsetof(PERF_COUNTER_DEFINITION, CounterOffset), 16,
       "object 1 counter block: counter 2 (CounterOffset 16, 8 bytes) past ByteLength 16"},
      {counter2 + offsetof(PERF_COUNTER_DEFINITION, CounterOffset), 4,
       "object 1 counter 2: CounterOffset 4 is not a multiple of its CounterSize 8"},
      {counter1 + offsetof(PERF_COUNTER_DEFINITION, CounterOffset), 0,
       "object 1 counter 1: CounterOffset 0 overlaps the counter block's own ByteLength"},
      {valid.instance1, 36,
       "object 2 instance 1 counter block: PERF_COUNTER_BLOCK at offset 436 is not on an 8-byte boundary"},
      {valid.instance1 + offsetof(PERF_INSTANCE_DEFINITION, NameLength), 10,
       "object 2 instance 1: name (NameOffset 24, NameLength 10) past ByteLength 32"},
      {valid.instance1 + sizeof(PERF_INSTANCE_DEFINITION) + 4, 'x',
       "object 2 instance 1: name has no terminator at the end of its NameLength 6", true},
      {valid.instance2 + sizeof(PERF_INSTANCE_DEFINITION) + 2, 0,
       "object 2 instance 2: name ends at character 1, before its NameLength 14", true},
      {valid.instance2 + 40, 12, "object 2 instance 2 counter block: ByteLength 12 is not a multiple of 8"},
  };
  for (const Damage &damage : damages) {
    TestBlock test;
    if (damage.character) {
      test.set<WCHAR>(damage.at, static_cast<WCHAR>(damage.value));
    } else {
      test.set<DWORD>(damage.at, damage.value);
    }
    EXPECT_EQ(damage.problem, problemOf(test.bytes, test.bytes.size())) << "damage at " << damage.at;
  }
}

TEST(PerfData, TruncatedOrDamagedBytesAreRefusedWithoutReadingPastThem) {
  const TestBlock valid;
  EXPECT_EQ("PERF_DATA_BLOCK: only 40 bytes, shorter than the 88-byte header", problemOf(valid.bytes, 40));
  EXPECT_EQ("PERF_DATA_BLOCK: TotalByteLength 504 past the 503 bytes read", problemOf(valid.bytes, 503));
  // Every shorter copy, each in a buffer of its own size, so that a read
  // past the end shows under a memory checker.
  for (size_t size = 0; size < valid.bytes.size(); ++size) {
    std::vector<BYTE> cut(valid.bytes.begin(), valid.bytes.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(problemOf(cut, cut.size()).empty()) << size;
  }
  // Any byte set to 0xFF is either harmless or refused with a text.
  for (size_t at = 0; at < valid.bytes.size(); ++at) {
    TestBlock test;
    test.bytes[at] = 0xFF;
    DataBlock block;
    std::string problem;
    EXPECT_TRUE(parseDataBlock(test.bytes.data(), test.bytes.size(), block, problem) || !problem.empty()) << at;
  }
}

TEST(PerfData, WineGapBeforeTheFirstObjectIsRepaired) {
  const TestBlock valid;
  const size_t headerLength = 96;
  for (bool gapCounted : {false, true}) {
    // As Wine 8 writes it: the objects wineObjectGap bytes further on, the
    // spare bytes after the reply holding the end of the last one.
    std::vector<BYTE> wine(valid.bytes.begin(), valid.bytes.begin() + headerLength);
    wine.resize(headerLength + wineObjectGap, 0);
    wine.insert(wine.end(), valid.bytes.begin() + headerLength, valid.bytes.end());
    if (!gapCounted) wine.resize(wine.size() + wineObjectGap, 0);
    DWORD total = static_cast<DWORD>(valid.bytes.size() + (gapCounted ? wineObjectGap : 0));
    memcpy(wine.data() + offsetof(PERF_DATA_BLOCK, TotalByteLength), &total, sizeof total);
    EXPECT_EQ("object 1: HeaderLength 0 shorter than the 64-byte PERF_OBJECT_TYPE", problemOf(wine, total));

    ASSERT_TRUE(repairWineObjectGap(wine)) << gapCounted;
    DataBlock block;
    std::string problem;
    ASSERT_TRUE(parseDataBlock(wine.data(), wine.size(), block, problem)) << problem;
    EXPECT_TRUE(std::equal(valid.bytes.begin(), valid.bytes.end(), wine.begin()));
  }
  // The documented layout, and a block whose objects are nowhere, stay as they are.
  std::vector<BYTE> documented = valid.bytes;
  documented.resize(documented.size() + wineObjectGap, 0);
  EXPECT_FALSE(repairWineObjectGap(documented));
  EXPECT_TRUE(std::equal(valid.bytes.begin(), valid.bytes.end(), documented.begin()));
  std::vector<BYTE> lost(valid.bytes.begin(), valid.bytes.begin() + headerLength);
  lost.resize(headerLength + 2 * wineObjectGap, 0);
  EXPECT_FALSE(repairWineObjectGap(lost));
}
