// The blob of a counter collection of 10,000 counters, read out (MyBlob get)
// and read in (MyBlob put), next to a plain copy of the same number of bytes.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "BenchmarkHost.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

constexpr LONG CounterCount = 10000;

IPerfCounters *counters = nullptr;

void buildCounters() {
  CoCreateInstance(CLSID_PerfCounters, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfCounters,
                   reinterpret_cast<void **>(&counters));
  for (LONG i = 0; i < CounterCount; ++i) {
    IPerfCounter *counter = nullptr;
    counters->AddNew(i + 1, &counter);
    std::string name = "Counter " + std::to_string(i);
    std::basic_string<OLECHAR> wide(name.begin(), name.end());
    BSTR text = SysAllocString(wide.c_str());
    counter->put_Name(text);
    SysFreeString(text);
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = i;
    counter->put_Value(value);
    counter->Release();
  }
}

size_t blobSize() {
  VARIANT blob;
  VariantInit(&blob);
  counters->get_MyBlob(btAsBinaryArray, &blob);
  const size_t size = V_ARRAY(&blob)->rgsabound[0].cElements;
  VariantClear(&blob);
  return size;
}

void MyBlobGet(benchmark::State &state) {
  for (auto _ : state) {
    VARIANT blob;
    VariantInit(&blob);
    counters->get_MyBlob(btAsBinaryArray, &blob);
    benchmark::DoNotOptimize(V_ARRAY(&blob));
    VariantClear(&blob);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blobSize()));
}

void MyBlobPut(benchmark::State &state) {
  VARIANT blob;
  VariantInit(&blob);
  counters->get_MyBlob(btAsBinaryArray, &blob);
  IPerfCounters *target = nullptr;
  CoCreateInstance(CLSID_PerfCounters, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfCounters,
                   reinterpret_cast<void **>(&target));
  for (auto _ : state) benchmark::DoNotOptimize(target->put_MyBlob(btAsBinaryArray, blob));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blobSize()));
  target->Release();
  VariantClear(&blob);
}

void PlainCopy(benchmark::State &state) {
  const std::vector<unsigned char> source(blobSize(), 0x5A);
  std::vector<unsigned char> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}

BENCHMARK(MyBlobGet)->Unit(benchmark::kMillisecond);
BENCHMARK(MyBlobPut)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) { return runBenchmarks(argc, argv, buildCounters, [] { counters->Release(); }); }
