// The collector's side of the path: the published blob read into a snapshot,
// and the snapshot written as performance data that the strict reader walks
// by its lengths alone.
#include <windows.h>
#include <winperf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "PerfData.h"
#include "PerfDataWriter.h"
#include "TreeSnapshot.h"

using namespace rv::collector;
using rv::Text;

namespace {

std::vector<BYTE> readFile(const std::string &name) {
  std::vector<BYTE> bytes;
  FILE *file = std::fopen((std::string(TEST_DATA_DIR) + "/" + name).c_str(), "rb");
  if (!file) return bytes;
  BYTE chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

Text text(const char *ascii) { return Text(ascii, ascii + std::strlen(ascii)); }

// Objects as the collector writes them, behind a data block header, so that
// the reader checks them as a whole answer.
struct Answer {
  DWORD status = 0, written = 0, objects = 0;
  perfdata::DataBlock block;
  std::string problem;
  bool parsed = false;
  bool untouched = false;  // nothing written past the header
};

Answer collect(const TreeSnapshot &tree, const WCHAR *query, DWORD capacity = 1 << 20) {
  Answer answer;
  std::vector<BYTE> buffer(sizeof(PERF_DATA_BLOCK) + capacity, 0xCD);
  answer.status = writePerfData(tree, ObjectQuery(query), {1000, 1001}, {123456789, 10000000},
                                buffer.data() + sizeof(PERF_DATA_BLOCK), capacity, answer.written, answer.objects);
  answer.untouched = true;
  for (size_t i = sizeof(PERF_DATA_BLOCK); i < buffer.size(); ++i) answer.untouched &= buffer[i] == 0xCD;
  PERF_DATA_BLOCK header{};
  std::memcpy(header.Signature, OLESTR("PERF"), 8);
  header.LittleEndian = 1;
  header.Version = 1;
  header.Revision = 1;
  header.HeaderLength = sizeof header;
  header.TotalByteLength = sizeof header + answer.written;
  header.NumObjectTypes = answer.objects;
  std::memcpy(buffer.data(), &header, sizeof header);
  answer.parsed = perfdata::parseDataBlock(buffer.data(), header.TotalByteLength, answer.block, answer.problem);
  return answer;
}

LONGLONG valueAt(const perfdata::CounterBlock &block, const perfdata::CounterDefinition &counter) {
  LONGLONG value = 0;
  if (counter.size == 4) {
    DWORD low = 0;
    std::memcpy(&low, block.bytes.data() + counter.counterOffset, 4);
    value = low;
  } else if (counter.size == 8) {
    std::memcpy(&value, block.bytes.data() + counter.counterOffset, 8);
  }
  return value;
}

CounterDefinition counterOf(LONG id, DWORD type) { return {id, 0, static_cast<LONG>(type)}; }

}  // namespace

TEST(TreeSnapshot, ReadsTheSampleTreeWithItsValueRules) {
  std::vector<BYTE> blob = readFile("sample-tree.blob");
  ASSERT_FALSE(blob.empty());
  TreeSnapshot tree;
  std::string problem;
  ASSERT_TRUE(readTreeSnapshot(blob.data(), blob.size(), tree, problem)) << problem;
  EXPECT_EQ(text("RVSample"), tree.device);
  ASSERT_EQ(2u, tree.objects.size());

  const ObjectSnapshot &requests = tree.objects[0];
  EXPECT_TRUE(requests.hasInstances);
  EXPECT_EQ(272696576, requests.counters[0].counterType);
  ASSERT_EQ(3u, requests.instances.size());
  // Integers as they are, doubles rounded half away from zero, byte arrays
  // of zeros as 0.
  EXPECT_EQ(text("alpha"), requests.instances[0].name);
  EXPECT_EQ((std::vector<LONGLONG>{100, 1, 0}), requests.instances[0].values);
  EXPECT_EQ((std::vector<LONGLONG>{101, 2, 0}), requests.instances[1].values);
  EXPECT_EQ(text("_Total"), requests.instances[2].name);
  EXPECT_EQ((std::vector<LONGLONG>{201, 1, 0}), requests.instances[2].values);

  const ObjectSnapshot &memory = tree.objects[1];
  EXPECT_FALSE(memory.hasInstances);
  EXPECT_EQ((std::vector<LONGLONG>{1536, -1}), memory.values);

  // Every cut of the blob is refused with a reason, never read past its end.
  for (size_t size = 0; size < blob.size(); size += 7) {
    EXPECT_FALSE(readTreeSnapshot(blob.data(), size, tree, problem)) << size;
    EXPECT_FALSE(problem.empty());
    EXPECT_TRUE(tree.objects.empty());
  }
}

TEST(PerfDataWriter, WritesABlockThatAReaderWalksByItsLengths) {
  TreeSnapshot tree;
  ObjectSnapshot plain;  // no instances, a 32-bit and a 64-bit counter
  plain.id = 2;
  plain.counters = {counterOf(4, PERF_COUNTER_RAWCOUNT), counterOf(6, PERF_COUNTER_LARGE_RAWCOUNT)};
  plain.values = {-2, 0x123456789ALL};
  ObjectSnapshot sessions;  // instance names of every padding
  sessions.id = 8;
  sessions.hasInstances = true;
  sessions.counters = {counterOf(10, PERF_COUNTER_LARGE_RAWCOUNT), counterOf(12, PERF_COUNTER_COUNTER),
                       counterOf(14, PERF_COUNTER_TEXT), counterOf(16, PERF_COUNTER_BULK_COUNT)};
  for (const char *name : {"a", "bb", "ccc", "dddd", "_Total"})
    sessions.instances.push_back({text(name), {static_cast<LONGLONG>(std::strlen(name)), 7, 0, -3}, {}});
  ObjectSnapshot empty;  // instances expected, none there
  empty.id = 18;
  empty.hasInstances = true;
  empty.counters = {counterOf(20, PERF_COUNTER_RAWCOUNT)};
  tree.objects = {plain, sessions, empty};

  Answer all = collect(tree, OLESTR("Global"));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), all.status);
  ASSERT_TRUE(all.parsed) << all.problem;
  EXPECT_EQ(3u, all.objects);
  ASSERT_EQ(3u, all.block.objects.size());

  const perfdata::Object &first = all.block.objects[0];
  EXPECT_EQ(1002u, first.nameIndex);
  EXPECT_EQ(1003u, first.helpIndex);
  EXPECT_EQ(123456789, first.perfTime);
  ASSERT_EQ(2u, first.counters.size());
  EXPECT_EQ(1004u, first.counters[0].nameIndex);
  EXPECT_EQ(0u, first.counters[1].counterOffset % 8);
  EXPECT_EQ(0xFFFFFFFELL, valueAt(first.counterBlock, first.counters[0]));
  EXPECT_EQ(0x123456789ALL, valueAt(first.counterBlock, first.counters[1]));

  const perfdata::Object &second = all.block.objects[1];
  ASSERT_EQ(5u, second.instances.size());
  EXPECT_EQ(0u, second.counters[2].size);  // variable length: no data
  for (size_t i = 0; i < second.instances.size(); ++i) {
    const perfdata::Instance &instance = second.instances[i];
    EXPECT_EQ(sessions.instances[i].name, instance.name);
    EXPECT_EQ(0u, instance.byteLength % 8);
    EXPECT_EQ(static_cast<LONGLONG>(sessions.instances[i].name.size()), valueAt(instance.counters, second.counters[0]));
    EXPECT_EQ(7, valueAt(instance.counters, second.counters[1]));
    EXPECT_EQ(-3, valueAt(instance.counters, second.counters[3]));
  }
  EXPECT_EQ(0, all.block.objects[2].numInstances);

  // One object by its index; the other words ask for nothing.
  Answer one = collect(tree, OLESTR("1008"));
  ASSERT_TRUE(one.parsed) << one.problem;
  ASSERT_EQ(1u, one.block.objects.size());
  EXPECT_EQ(1008u, one.block.objects[0].nameIndex);
  EXPECT_EQ(2u, collect(tree, OLESTR("238 1018 1002")).objects);
  for (const WCHAR *none : {OLESTR("Foreign"), OLESTR("Costly"), OLESTR("1004"), OLESTR("12x")})
    EXPECT_EQ(0u, collect(tree, none).written);

  // A buffer one byte too small: ERROR_MORE_DATA, and not one byte written.
  Answer tight = collect(tree, OLESTR("Global"), all.written - 1);
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), tight.status);
  EXPECT_EQ(0u, tight.written);
  EXPECT_EQ(0u, tight.objects);
  EXPECT_TRUE(tight.untouched);
  EXPECT_EQ(all.written, collect(tree, OLESTR("Global"), all.written).written);
}
