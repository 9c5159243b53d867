// CopyFrom and SyncronizeFrom of the whole tree (10 objects x 100 instances x
// 10 counters) into another manager: CopyFrom replaces the target's tree;
// SyncronizeFrom resets the target's values and copies the source's into the
// objects, instances and counters it matches (nothing is created), measured
// into a manager that holds the same tree.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>

#include "BenchmarkHost.h"
#include "BenchmarkTree.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

const TreeShape shape;
IPerfMgr *source = nullptr;
size_t blobBytes = 0;

void CopyFrom(benchmark::State &state) {
  Owned<IPerfMgr> target = create<IPerfMgr>(CLSID_PerfMgr, IID_IPerfMgr);
  for (auto _ : state)
    if (FAILED(target->CopyFrom(source))) state.SkipWithError("CopyFrom failed");
  reportPerCounter(state, shape, blobBytes);
}

void SyncronizeFrom(benchmark::State &state) {
  Owned<IPerfMgr> target = create<IPerfMgr>(CLSID_PerfMgr, IID_IPerfMgr);
  target->CopyFrom(source);
  for (auto _ : state)
    if (FAILED(target->SyncronizeFrom(source))) state.SkipWithError("SyncronizeFrom failed");
  reportPerCounter(state, shape, blobBytes);
}

BENCHMARK(CopyFrom)->Unit(benchmark::kMillisecond);
BENCHMARK(SyncronizeFrom)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  return runBenchmarks(
      argc, argv,
      [] {
        source = buildManager(shape);
        if (source != nullptr) blobBytes = blobOf(source).size();
        return blobBytes != 0;
      },
      [] {
        if (source) source->Release();
      });
}
