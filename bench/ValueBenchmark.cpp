// The host's hot path: setting one counter's value, through the vtable
// (put_Value) and through IDispatch::Invoke by DISPID as a late-bound host
// calls it, next to a plain store of the same value into a VARIANT.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>

#include "BenchmarkHost.h"
#include "BenchmarkTree.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

// The DISPID of IPerfCounter's Value in the type library.
constexpr DISPID ValueDispid = 5;

IPerfMgr *manager = nullptr;
IPerfCounter *counter = nullptr;

bool build() {
  manager = buildManager(TreeShape{1, 1, 10});
  if (manager == nullptr) return false;
  Owned<IPerfObjects> objects;
  Owned<IPerfObject> object;
  Owned<IPerfInstances> instances;
  Owned<IPerfInstance> instance;
  Owned<IPerfCounters> counters;
  return SUCCEEDED(manager->get_PerfObjects(objects.put())) && SUCCEEDED(objects->get_Item(1, object.put())) &&
         SUCCEEDED(object->get_PerfInstances(instances.put())) && SUCCEEDED(instances->get_Item(1, instance.put())) &&
         SUCCEEDED(instance->get_PerfCounters(counters.put())) && SUCCEEDED(counters->get_Item(1, &counter));
}

void PutValueVtable(benchmark::State &state) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  LONG next = 0;
  for (auto _ : state) {
    V_I4(&value) = ++next;
    if (FAILED(counter->put_Value(value))) state.SkipWithError("put_Value failed");
  }
}

void PutValueInvoke(benchmark::State &state) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS parameters = {&value, &named, 1, 1};
  LONG next = 0;
  for (auto _ : state) {
    V_I4(&value) = ++next;
    if (FAILED(counter->Invoke(ValueDispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters, nullptr,
                               nullptr, nullptr)))
      state.SkipWithError("Invoke of Value failed");
  }
}

void PlainVariantStore(benchmark::State &state) {
  VARIANT value;
  VariantInit(&value);
  LONG next = 0;
  for (auto _ : state) {
    V_VT(&value) = VT_I4;
    V_I4(&value) = ++next;
    benchmark::DoNotOptimize(value);
    benchmark::ClobberMemory();
  }
}

BENCHMARK(PutValueVtable);
BENCHMARK(PutValueInvoke);
BENCHMARK(PlainVariantStore);

void compare(const Timings &timings) {
  printRatio(timings, "put_Value / plain store", "PutValueVtable", "PlainVariantStore");
  printRatio(timings, "Invoke / put_Value", "PutValueInvoke", "PutValueVtable");
}

}  // namespace

int main(int argc, char **argv) {
  return runBenchmarks(
      argc, argv, build,
      [] {
        if (counter) counter->Release();
        if (manager) manager->Release();
      },
      compare);
}
