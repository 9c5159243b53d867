// The reader's path for a tree of 10 objects x 100 instances x 10 counters:
// one publish (the manager's MyBlob, then the copy into shared memory), the
// copy alone, and one Collect of every object through the collector's entry
// point (of the tree as the last Collect saw it, and after a publish of a
// tree whose values changed since), next to a plain copy of the blob's bytes; and the whole way
// of a value, from put_Value and the publish to the value standing in a
// reader's buffer.
#include <windows.h>
#include <winperf.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchmarkHost.h"
#include "BenchmarkTree.h"
#include "PublishedTree.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

const TreeShape shape;
const char Device[] = "RVCollectorBench";
const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\RVCollectorBench\\Performance";

IPerfMgr *manager = nullptr;
std::unique_ptr<rv::publishing::TreePublisher> publisher;
std::vector<BYTE> blob;
PM_COLLECT_PROC *collect = nullptr;

bool buildTree() {
  manager = buildManager(shape);
  if (manager == nullptr) return false;
  blob = blobOf(manager);

  publisher = std::make_unique<rv::publishing::TreePublisher>(
      std::basic_string<OLECHAR>(Device, Device + sizeof Device - 1).c_str());
  publisher->publish(blob.data(), blob.size());

  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, ServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  for (auto [name, data] : {std::pair<const char *, const char *>{"Library", COLLECTOR_MODULE},
                            {"Open", "OpenNorvalePerfData"},
                            {"Collect", "CollectNorvalePerfData"},
                            {"Close", "CloseNorvalePerfData"}})
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                   static_cast<DWORD>(std::strlen(data) + 1));
  RegCloseKey(key);
  HMODULE collector = LoadLibraryA(COLLECTOR_MODULE);
  auto open =
      reinterpret_cast<PM_OPEN_PROC *>(reinterpret_cast<void *>(GetProcAddress(collector, "OpenNorvalePerfData")));
  collect = reinterpret_cast<PM_COLLECT_PROC *>(
      reinterpret_cast<void *>(GetProcAddress(collector, "CollectNorvalePerfData")));
  if (open) open(nullptr);
  return collect != nullptr && !blob.empty();
}

void tearDown() {
  publisher.reset();
  if (manager) manager->Release();
}

void PublishManager(benchmark::State &state) {
  for (auto _ : state) publisher->publish(manager);
  reportPerCounter(state, shape, blob.size());
}

void PublishBlobBytes(benchmark::State &state) {
  for (auto _ : state) publisher->publish(blob.data(), blob.size());
  reportPerCounter(state, shape, blob.size());
}

// One Collect of every object into `buffer`; false when it did not answer
// with all of them.
bool collectAll(std::vector<BYTE> &buffer, DWORD &bytes) {
  WCHAR global[] = OLESTR("Global");
  void *at = buffer.data();
  DWORD objects = 0;
  bytes = static_cast<DWORD>(buffer.size());
  return collect(global, &at, &bytes, &objects) == ERROR_SUCCESS && objects == static_cast<DWORD>(shape.objects);
}

void Collect(benchmark::State &state) {
  std::vector<BYTE> buffer(8 << 20);
  DWORD bytes = 0;
  publisher->publish(blob.data(), blob.size());
  for (auto _ : state) {
    if (!collectAll(buffer, bytes)) {
      state.SkipWithError("Collect did not return every object");
      break;
    }
  }
  reportPerCounter(state, shape, bytes);
}

// The host publishes the blob of a tree of the same shape whose every value
// changed, then a Collect: less PublishBlobBytes, what a Collect costs when
// every value changed since the last.
void PublishChangedValuesAndCollect(benchmark::State &state) {
  std::vector<BYTE> buffer(8 << 20);
  std::vector<BYTE> other = blob;
  DWORD bytes = 0;
  bool flip = false;
  // The other tree is built as the first, then every value of an instance
  // set to the one its neighbour holds in the first: integers and doubles at
  // the same places, so the shape is the same.
  {
    Owned<IPerfMgr> changed(buildManager(shape));
    Owned<IPerfObjects> objects;
    changed->get_PerfObjects(objects.put());
    for (LONG o = 1; o <= shape.objects; ++o) {
      Owned<IPerfObject> object;
      objects->get_Item(o, object.put());
      Owned<IPerfInstances> instances;
      object->get_PerfInstances(instances.put());
      for (LONG i = 1; i <= shape.instances; ++i) {
        Owned<IPerfInstance> instance;
        instances->get_Item(i, instance.put());
        Owned<IPerfCounters> counters;
        instance->get_PerfCounters(counters.put());
        for (LONG c = 1; c <= shape.counters; ++c) {
          Owned<IPerfCounter> counter;
          counters->get_Item(c, counter.put());
          setValue(counter.p, o - 1, i, c);
        }
      }
    }
    other = blobOf(changed.p);
  }
  for (auto _ : state) {
    flip = !flip;
    const std::vector<BYTE> &next = flip ? other : blob;
    publisher->publish(next.data(), next.size());
    if (!collectAll(buffer, bytes)) {
      state.SkipWithError("Collect did not return every object");
      break;
    }
  }
  publisher->publish(blob.data(), blob.size());
  reportPerCounter(state, shape, bytes);
}

// One counter's new value from the host's put_Value to the reader's buffer:
// the publish of the whole tree (its blob and the copy into shared memory),
// then a Collect of every object.
void ValueToReader(benchmark::State &state) {
  std::vector<BYTE> buffer(8 << 20);
  Owned<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  Owned<IPerfObject> object;
  objects->get_Item(1, object.put());
  Owned<IPerfInstances> instances;
  object->get_PerfInstances(instances.put());
  Owned<IPerfInstance> instance;
  instances->get_Item(1, instance.put());
  Owned<IPerfCounters> counters;
  instance->get_PerfCounters(counters.put());
  Owned<IPerfCounter> counter;
  counters->get_Item(1, counter.put());
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  DWORD bytes = 0;
  for (auto _ : state) {
    ++V_I4(&value);
    counter->put_Value(value);
    publisher->publish(manager);
    if (!collectAll(buffer, bytes)) {
      state.SkipWithError("Collect did not return every object");
      break;
    }
  }
  publisher->publish(blob.data(), blob.size());
  reportPerCounter(state, shape, bytes);
}

void CopyBlob(benchmark::State &state) {
  std::vector<BYTE> target(blob.size());
  for (auto _ : state) {
    std::memcpy(target.data(), blob.data(), blob.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  reportPerCounter(state, shape, blob.size());
}

BENCHMARK(PublishManager)->Unit(benchmark::kMillisecond);
BENCHMARK(PublishBlobBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(Collect)->Unit(benchmark::kMicrosecond);
BENCHMARK(PublishChangedValuesAndCollect)->Unit(benchmark::kMicrosecond);
BENCHMARK(ValueToReader)->Unit(benchmark::kMicrosecond);
BENCHMARK(CopyBlob)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) { return runBenchmarks(argc, argv, buildTree, tearDown); }
