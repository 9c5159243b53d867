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
#include "PublishedTree.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

constexpr LONG Objects = 10, Instances = 100, Counters = 10;
const char Device[] = "RVCollectorBench";
const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\RVCollectorBench\\Performance";

IPerfMgr *manager = nullptr;
std::unique_ptr<rv::publishing::TreePublisher> publisher;
std::vector<BYTE> blob;
PM_COLLECT_PROC *collect = nullptr;

BSTR text(const std::string &ascii) {
  std::basic_string<OLECHAR> wide(ascii.begin(), ascii.end());
  return SysAllocString(wide.c_str());
}

void buildTree() {
  CoCreateInstance(CLSID_PerfMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfMgr, reinterpret_cast<void **>(&manager));
  IPerfObjects *objects = nullptr;
  manager->get_PerfObjects(&objects);
  LONG id = 2;
  for (LONG o = 0; o < Objects; ++o) {
    IPerfObject *object = nullptr;
    objects->AddNew(id, &object);
    id += 2;
    BSTR name = text("Application object " + std::to_string(o));
    object->put_Name(name);
    SysFreeString(name);
    object->put_HasInstances(VARIANT_TRUE);
    IPerfCounters *counters = nullptr;
    object->get_PerfCounters(&counters);
    for (LONG c = 0; c < Counters; ++c) {
      IPerfCounter *counter = nullptr;
      counters->AddNew(id, &counter);
      id += 2;
      BSTR counterName = text("Requests handled per second by worker " + std::to_string(c));
      BSTR help = text("The number of requests that this worker pool completed since the last sample was taken.");
      counter->put_Name(counterName);
      counter->put_Help(help);
      SysFreeString(counterName);
      SysFreeString(help);
      counter->put_CounterType(c % 2 ? PERF_COUNTER_LARGE_RAWCOUNT : PERF_COUNTER_RAWCOUNT);
      counter->Release();
    }
    counters->Release();
    for (LONG i = 0; i < Instances; ++i) {
      IPerfInstance *instance = nullptr;
      BSTR instanceName = text("worker-" + std::to_string(i));
      object->CreateInstance(instanceName, &instance);
      SysFreeString(instanceName);
      IPerfCounters *values = nullptr;
      instance->get_PerfCounters(&values);
      for (LONG c = 1; c <= Counters; ++c) {
        IPerfCounter *counter = nullptr;
        values->get_Item(c, &counter);
        VARIANT value;
        VariantInit(&value);
        if (c % 2) {
          V_VT(&value) = VT_I4;
          V_I4(&value) = i * c;
        } else {
          V_VT(&value) = VT_R8;
          V_R8(&value) = i * 1.5;
        }
        counter->put_Value(value);
        counter->Release();
      }
      values->Release();
      instance->Release();
    }
    object->Release();
  }
  objects->Release();

  VARIANT bytes;
  VariantInit(&bytes);
  manager->get_MyBlob(btAsBinaryArray, &bytes);
  const BYTE *data = static_cast<const BYTE *>(V_ARRAY(&bytes)->pvData);
  blob.assign(data, data + V_ARRAY(&bytes)->rgsabound[0].cElements);
  VariantClear(&bytes);

  publisher = std::make_unique<rv::publishing::TreePublisher>(std::basic_string<OLECHAR>(Device, Device + sizeof Device - 1).c_str());
  publisher->publish(blob.data(), blob.size());

  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, ServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  for (auto [name, data] : {std::pair<const char *, const char *>{"Library", COLLECTOR_MODULE},
                            {"Open", "OpenNorvalePerfData"}, {"Collect", "CollectNorvalePerfData"},
                            {"Close", "CloseNorvalePerfData"}})
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data), static_cast<DWORD>(std::strlen(data) + 1));
  RegCloseKey(key);
  HMODULE collector = LoadLibraryA(COLLECTOR_MODULE);
  auto open = reinterpret_cast<PM_OPEN_PROC *>(reinterpret_cast<void *>(GetProcAddress(collector, "OpenNorvalePerfData")));
  collect = reinterpret_cast<PM_COLLECT_PROC *>(reinterpret_cast<void *>(GetProcAddress(collector, "CollectNorvalePerfData")));
  if (open) open(nullptr);
}

void tearDown() {
  publisher.reset();
  if (manager) manager->Release();
}

void PublishManager(benchmark::State &state) {
  for (auto _ : state) publisher->publish(manager);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blob.size()));
  state.counters["blob_bytes"] = static_cast<double>(blob.size());
}

void PublishBlobBytes(benchmark::State &state) {
  for (auto _ : state) publisher->publish(blob.data(), blob.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blob.size()));
}

void Collect(benchmark::State &state) {
  std::vector<BYTE> buffer(8 << 20);
  WCHAR global[] = OLESTR("Global");
  DWORD bytes = 0, objects = 0;
  for (auto _ : state) {
    void *at = buffer.data();
    bytes = static_cast<DWORD>(buffer.size());
    if (!collect || collect(global, &at, &bytes, &objects) != ERROR_SUCCESS || objects != Objects) {
      state.SkipWithError("Collect did not return every object");
      break;
    }
  }
  state.counters["per_counter"] = benchmark::Counter(static_cast<double>(state.iterations()) * Objects * Instances * Counters,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["output_bytes"] = bytes;
}

void CopyBlob(benchmark::State &state) {
  std::vector<BYTE> target(blob.size());
  for (auto _ : state) {
    std::memcpy(target.data(), blob.data(), blob.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blob.size()));
}

BENCHMARK(PublishManager)->Unit(benchmark::kMillisecond);
BENCHMARK(PublishBlobBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(Collect)->Unit(benchmark::kMicrosecond);
BENCHMARK(CopyBlob)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) { return runBenchmarks(argc, argv, buildTree, tearDown); }
