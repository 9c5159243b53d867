// Feeds arbitrary bytes to the collector as the published tree, as a broken
// or hostile host could leave it in shared memory: the snapshot reader must
// refuse what does not fit with a reason, and whatever it accepts must come
// out as performance data that a strict reader walks by its lengths alone.
//
// Run for a while from the build folder of the fuzzers (<src> is the source
// tree); the new inputs it finds stay in ./corpus for the next run:
//   mkdir -p corpus && bin/collector_fuzzer corpus <src>/tests/fuzz/seeds/collector \
//     -max_len=8192 -malloc_limit_mb=64 -jobs=2 -workers=2 -runs=1000000
// CTest runs it briefly (see tests/fuzz/CMakeLists.txt).
#include <windows.h>
#include <winperf.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PerfData.h"
#include "PerfDataWriter.h"
#include "TreeSnapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace rv::collector;
  TreeSnapshot tree;
  std::string problem;
  if (!readTreeSnapshot(data, size, tree, problem)) {
    if (problem.empty()) std::abort();
    return 0;
  }
  std::vector<BYTE> buffer(sizeof(PERF_DATA_BLOCK) + (1 << 20));
  DWORD written = 0, objects = 0;
  const DWORD capacity = static_cast<DWORD>(buffer.size() - sizeof(PERF_DATA_BLOCK));
  if (writePerfData(tree, ObjectQuery(nullptr), {1000, 1001}, {1, 1}, buffer.data() + sizeof(PERF_DATA_BLOCK),
                    capacity, written, objects) != ERROR_SUCCESS)
    return 0;
  PERF_DATA_BLOCK header{};
  std::memcpy(header.Signature, OLESTR("PERF"), 8);
  header.LittleEndian = 1;
  header.Version = 1;
  header.Revision = 1;
  header.HeaderLength = sizeof header;
  header.TotalByteLength = sizeof header + written;
  header.NumObjectTypes = objects;
  std::memcpy(buffer.data(), &header, sizeof header);
  perfdata::DataBlock block;
  if (!perfdata::parseDataBlock(buffer.data(), header.TotalByteLength, block, problem) ||
      block.objects.size() != tree.objects.size()) {
    std::fprintf(stderr, "the written block does not walk: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
