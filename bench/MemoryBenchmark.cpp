// The heap a built tree takes: bytes per counter, per instance and per object,
// found by building trees that differ in one dimension and dividing the
// difference, and the peak while the blob of the whole tree (10 objects x
// 100 instances x 10 counters) is read into an empty manager.
//
// The program replaces malloc, calloc, realloc and free, handing each to the
// C library's own and counting the usable size of each block: the global
// operator new and delete of every module, the platform's SysAllocString,
// SafeArrayCreate and CoTaskMemAlloc, SQLite and libxml2 all end there, so
// nothing the component asks for escapes the count.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstddef>

#include "BenchmarkHost.h"
#include "BenchmarkTree.h"
#include "rvZedaZuvivurAzodav.h"

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}

namespace {

std::atomic<long long> heapBytes{0}, peakBytes{0};

void counted(void *block) {
  if (block == nullptr) return;
  const long long now = heapBytes.fetch_add(static_cast<long long>(malloc_usable_size(block))) +
                        static_cast<long long>(malloc_usable_size(block));
  long long peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}

void uncounted(void *block) {
  if (block != nullptr) heapBytes.fetch_sub(static_cast<long long>(malloc_usable_size(block)));
}

}  // namespace

extern "C" {
void *malloc(size_t size) {
  void *block = __libc_malloc(size);
  counted(block);
  return block;
}
void *calloc(size_t count, size_t size) {
  void *block = __libc_calloc(count, size);
  counted(block);
  return block;
}
void *realloc(void *block, size_t size) {
  uncounted(block);
  void *moved = __libc_realloc(block, size);
  counted(moved != nullptr || size == 0 ? moved : block);
  return moved;
}
void free(void *block) {
  uncounted(block);
  __libc_free(block);
}
}

namespace {

// The heap a manager of `shape` keeps once built.
double treeBytes(const TreeShape &shape) {
  const long long before = heapBytes.load();
  IPerfMgr *manager = buildManager(shape);
  const long long after = heapBytes.load();
  if (manager != nullptr) manager->Release();
  return static_cast<double>(after - before);
}

void TreeMemory(benchmark::State &state) {
  const TreeShape base;
  treeBytes(TreeShape{1, 1, 1});  // the first use fills caches that every later tree shares
  double tree = 0, perCounter = 0, perShortCounter = 0, perInstance = 0, perObject = 0;
  for (auto _ : state) {
    tree = treeBytes(base);
    const double moreCounters = treeBytes(TreeShape{base.objects, base.instances, 2 * base.counters});
    const double moreInstances = treeBytes(TreeShape{base.objects, 2 * base.instances, base.counters});
    const double moreObjects = treeBytes(TreeShape{2 * base.objects, base.instances, base.counters});
    const double shortTree = treeBytes(TreeShape{base.objects, base.instances, base.counters, true});
    const double shortMore = treeBytes(TreeShape{base.objects, base.instances, 2 * base.counters, true});
    // Every object holds its template of counters besides one per instance.
    const double countersAdded = base.objects * (base.instances + 1.0) * base.counters;
    perCounter = (moreCounters - tree) / countersAdded;
    perShortCounter = (shortMore - shortTree) / countersAdded;
    const double instanceWithCounters = (moreInstances - tree) / (base.objects * base.instances);
    perInstance = instanceWithCounters - base.counters * perCounter;
    perObject =
        (moreObjects - tree) / base.objects - base.instances * instanceWithCounters - base.counters * perCounter;
  }
  state.counters["tree_bytes"] = tree;
  state.counters["per_counter"] = perCounter;
  state.counters["per_short_counter"] = perShortCounter;
  state.counters["per_instance"] = perInstance;
  state.counters["per_object"] = perObject;
}

// The peak above the empty manager while the blob is read in, next to what
// the tree keeps afterwards and the blob's own size.
void BlobReadPeak(benchmark::State &state) {
  IPerfMgr *source = buildManager(TreeShape{});
  VARIANT blob;
  VariantInit(&blob);
  source->get_MyBlob(btAsBinaryArray, &blob);
  source->Release();
  double peak = 0, kept = 0;
  for (auto _ : state) {
    Owned<IPerfMgr> target = create<IPerfMgr>(CLSID_PerfMgr, IID_IPerfMgr);
    const long long before = heapBytes.load();
    peakBytes.store(before);
    if (FAILED(target->put_MyBlob(btAsBinaryArray, blob))) state.SkipWithError("MyBlob put failed");
    peak = static_cast<double>(peakBytes.load() - before);
    kept = static_cast<double>(heapBytes.load() - before);
  }
  state.counters["blob_bytes"] = static_cast<double>(V_ARRAY(&blob)->rgsabound[0].cElements);
  state.counters["peak_bytes"] = peak;
  state.counters["kept_bytes"] = kept;
  VariantClear(&blob);
}

BENCHMARK(TreeMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BlobReadPeak)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  return runBenchmarks(
      argc, argv, [] { return true; }, [] {});
}
