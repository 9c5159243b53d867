// The reader's path for a tree of 10 objects x 100 instances x 10 counters:
// one publish (the manager's MyBlob, then the copy into shared memory), the
// copy alone, and one Collect of every object through the collector's entry
// point, next to a plain copy of the blob's bytes.
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

void Collect(benchmark::State &state) {
  std::vector<BYTE> buffer(8 << 20);
  WCHAR global[] = OLESTR("Global");
  DWORD bytes = 0, objects = 0;
  for (auto _ : state) {
    void *at = buffer.data();
    bytes = static_cast<DWORD>(buffer.size());
    if (collect(global, &at, &bytes, &objects) != ERROR_SUCCESS || objects != static_cast<DWORD>(shape.objects)) {
      state.SkipWithError("Collect did not return every object");
      break;
    }
  }
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
BENCHMARK(CopyBlob)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) { return runBenchmarks(argc, argv, buildTree, tearDown); }
