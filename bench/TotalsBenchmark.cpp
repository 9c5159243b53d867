// The walks a host runs over a live object every few seconds, at 100, 1,000
// and 10,000 instances of 10 counters each, and the creation of that many
// instances by name: CreateInstances, CalcTotalInstances, and
// RemoveTimedOutInstances when every instance is fresh (the walk alone) and
// when every other one is stale (the walk and its removals), in a tree read
// anew and in one refilled cycle after cycle. "per_instance" is the time of
// one run divided by the number of instances.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "BenchmarkHost.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

constexpr LONG CountersPerInstance = 10;

DATE now() {
  SYSTEMTIME time;
  GetLocalTime(&time);
  DATE value = 0;
  SystemTimeToVariantTime(&time, &value);
  return value;
}

// The manager's one object, which keeps a _Total: a template of 10 counters
// (integers and doubles, half of them averaged) and no instances yet.
Owned<IPerfObject> sessionsObject(IPerfMgr *manager) {
  Owned<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  Owned<IPerfObject> object;
  objects->AddNew(2, object.put());
  object->put_HasInstances(VARIANT_TRUE);
  object->put_AutoCreateInstanceTotal(VARIANT_TRUE);
  object->put_InstanceTimeout(3600);
  Owned<IPerfCounters> tmpl;
  object->get_PerfCounters(tmpl.put());
  for (LONG c = 0; c < CountersPerInstance; ++c) {
    Owned<IPerfCounter> counter;
    tmpl->AddNew(2 * c + 4, counter.put());
    BSTR name = text("Counter " + std::to_string(c));
    BSTR keyword = text(c % 2 == 0 ? "no_calc" : "avg");
    counter->put_Name(name);
    counter->put_AutoCalcInstanceTotal(keyword);
    SysFreeString(name);
    SysFreeString(keyword);
  }
  return object;
}

// That object with `instances` instances with their own values, stamped now
// or, every other one when `halfStale`, two hours ago; then _Total.
void build(IPerfMgr *manager, LONG instances, bool halfStale) {
  Owned<IPerfObject> object = sessionsObject(manager);
  Owned<IPerfCounters> tmpl;
  object->get_PerfCounters(tmpl.put());
  // Added rather than made by name, which would look every name up first.
  Owned<IPerfInstances> all;
  object->get_PerfInstances(all.put());
  const DATE fresh = now(), stale = fresh - 2.0 / 24;
  for (LONG i = 0; i < instances; ++i) {
    Owned<IPerfInstance> instance;
    all->AddNew(0, instance.put());
    BSTR name = text("Worker " + std::to_string(i));
    instance->put_Name(name);
    SysFreeString(name);
    instance->put_TimeStamp(halfStale && i % 2 == 1 ? stale : fresh);
    Owned<IPerfCounters> counters;
    instance->get_PerfCounters(counters.put());
    counters->CopyFrom(tmpl.p);
    for (LONG c = 1; c <= CountersPerInstance; ++c) {
      Owned<IPerfCounter> counter;
      counters->get_Item(c, counter.put());
      VARIANT value;
      VariantInit(&value);
      if (c % 3 == 0) {
        V_VT(&value) = VT_R8;
        V_R8(&value) = i * 0.5;
      } else {
        V_VT(&value) = VT_I4;
        V_I4(&value) = i + c;
      }
      counter->put_Value(value);
    }
  }
  manager->CreateTotalInstances();
}

void setPerInstance(benchmark::State &state) {
  state.counters["per_instance"] = benchmark::Counter(
      static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

IPerfMgr *newManager() { return create<IPerfMgr>(CLSID_PerfMgr, IID_IPerfMgr).detach(); }

// Runs one walk of the manager per iteration over a tree that stays as it is.
template <typename Walk> void measure(benchmark::State &state, Walk walk) {
  Owned<IPerfMgr> manager{newManager()};
  build(manager.p, static_cast<LONG>(state.range(0)), false);
  for (auto _ : state)
    if (FAILED(walk(manager.p))) state.SkipWithError("the walk failed");
  setPerInstance(state);
}

void CalcTotalInstances(benchmark::State &state) {
  measure(state, [](IPerfMgr *manager) { return manager->CalcTotalInstances(); });
}

void SweepNothingStale(benchmark::State &state) {
  measure(state, [](IPerfMgr *manager) { return manager->RemoveTimedOutInstances(); });
}

// Sweeps the half-stale tree, read from its blob outside the measured time
// before each run: into a new manager (the previous run's tree released
// there too), so that every run starts from the same layout in memory, or,
// with `refill`, over the tree the last run left, as a host that keeps one
// tree, refills it and sweeps it cycle after cycle. Each refill reads over
// the instances the last sweep left and makes the others anew, wherever the
// C library finds room after that sweep's frees, so the memory a sweep
// walks gets more scattered with each cycle.
void sweepHalfStale(benchmark::State &state, bool refill) {
  Owned<IPerfMgr> original{newManager()}, manager;
  build(original.p, static_cast<LONG>(state.range(0)), true);
  VARIANT blob;
  VariantInit(&blob);
  original->get_MyBlob(btAsBinaryArray, &blob);
  for (auto _ : state) {
    state.PauseTiming();
    if (!refill || manager.p == nullptr) {
      if (manager.p) manager.detach()->Release();
      manager.p = newManager();
    }
    manager->put_MyBlob(btAsBinaryArray, blob);
    state.ResumeTiming();
    if (FAILED(manager->RemoveTimedOutInstances())) state.SkipWithError("RemoveTimedOutInstances failed");
  }
  VariantClear(&blob);
  setPerInstance(state);
}

void SweepHalfStale(benchmark::State &state) { sweepHalfStale(state, false); }
void SweepHalfStaleRefilled(benchmark::State &state) { sweepHalfStale(state, true); }

// Creates the instances one by one by name, as a host does when its
// sessions open: each CreateInstance looks its name up among those there
// before it is added. Each run starts from an object without instances, set
// up (and the previous run's tree released) outside the measured time.
void CreateInstances(benchmark::State &state) {
  const LONG count = static_cast<LONG>(state.range(0));
  std::vector<BSTR> names;
  for (LONG i = 0; i < count; ++i) names.push_back(text("Worker " + std::to_string(i)));
  Owned<IPerfMgr> manager;
  Owned<IPerfObject> object;
  for (auto _ : state) {
    state.PauseTiming();
    if (object.p) object.detach()->Release();
    if (manager.p) manager.detach()->Release();
    manager.p = newManager();
    object.p = sessionsObject(manager.p).detach();
    state.ResumeTiming();
    for (BSTR name : names) {
      Owned<IPerfInstance> instance;
      if (FAILED(object->CreateInstance(name, instance.put()))) {
        state.SkipWithError("CreateInstance failed");
        break;
      }
    }
  }
  for (BSTR name : names) SysFreeString(name);
  setPerInstance(state);
}

BENCHMARK(CreateInstances)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(CalcTotalInstances)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(SweepNothingStale)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(SweepHalfStale)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(SweepHalfStaleRefilled)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  return runBenchmarks(
      argc, argv, [] { return true; }, [] {});
}
