// The tree a host hands to its reader every second, as the whole-tree
// benchmarks build it: objects with a template of counters and instances that
// copy it, integer and double values, names and help texts of the length a
// real server gives them. Each name and value comes from one function here,
// so that the peer's message can carry exactly the same fields.
#pragma once
#include <windows.h>
#include <winperf.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "BenchmarkHost.h"
#include "rvZedaZuvivurAzodav.h"

struct TreeShape {
  LONG objects = 10, instances = 100, counters = 10;
  // Short counter names ("Counter 3") and no help texts, for the smallest
  // node a host can make.
  bool shortTexts = false;
  LONG totalCounters() const { return objects * instances * counters; }
};

namespace tree {

inline LONG objectId(const TreeShape &shape, LONG o) { return 2 + o * 2 * (shape.counters + 1); }
inline LONG counterId(const TreeShape &shape, LONG o, LONG c) { return objectId(shape, o) + 2 * (c + 1); }
inline std::string objectName(LONG o) { return "Application object " + std::to_string(o); }
inline std::string objectHelp(LONG o) {
  return "The requests that worker pool " + std::to_string(o) + " of the application server handles.";
}
inline std::string counterName(LONG c) { return "Requests handled per second by worker " + std::to_string(c); }
inline std::string counterHelp(LONG) {
  return "The number of requests that this worker pool completed since the last sample was taken.";
}
inline std::string instanceName(LONG i) { return "worker-" + std::to_string(i); }
// Counters are numbered from 1 in an instance; every other one holds a double.
inline bool holdsDouble(LONG c) { return c % 2 == 0; }
inline LONG integerValue(LONG o, LONG i, LONG c) { return (o + 1) * 100000 + i * c; }
inline double doubleValue(LONG o, LONG i, LONG) { return o + i * 1.5; }
inline DWORD counterType(LONG c) { return c % 2 ? PERF_COUNTER_LARGE_RAWCOUNT : PERF_COUNTER_RAWCOUNT; }

}  // namespace tree

inline void setValue(IPerfCounter *counter, LONG o, LONG i, LONG c) {
  VARIANT value;
  VariantInit(&value);
  if (tree::holdsDouble(c)) {
    V_VT(&value) = VT_R8;
    V_R8(&value) = tree::doubleValue(o, i, c);
  } else {
    V_VT(&value) = VT_I4;
    V_I4(&value) = tree::integerValue(o, i, c);
  }
  counter->put_Value(value);
}

inline void setText(IPerfCounter *counter, HRESULT (STDMETHODCALLTYPE IPerfCounter::*put)(BSTR),
                    const std::string &value) {
  BSTR wide = text(value);
  (counter->*put)(wide);
  SysFreeString(wide);
}

// A manager holding the tree, built through the component's interfaces as a
// host builds it: the template of each object first, then its instances by
// name, each of which copies the template, then their values.
inline IPerfMgr *buildManager(const TreeShape &shape) {
  Owned<IPerfMgr> manager = create<IPerfMgr>(CLSID_PerfMgr, IID_IPerfMgr);
  if (manager.p == nullptr) return nullptr;
  Owned<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  for (LONG o = 0; o < shape.objects; ++o) {
    Owned<IPerfObject> object;
    objects->AddNew(tree::objectId(shape, o), object.put());
    BSTR name = text(tree::objectName(o)), help = text(tree::objectHelp(o));
    object->put_Name(name);
    object->put_Help(help);
    SysFreeString(name);
    SysFreeString(help);
    object->put_HasInstances(VARIANT_TRUE);
    Owned<IPerfCounters> counters;
    object->get_PerfCounters(counters.put());
    for (LONG c = 0; c < shape.counters; ++c) {
      Owned<IPerfCounter> counter;
      counters->AddNew(tree::counterId(shape, o, c), counter.put());
      if (shape.shortTexts) {
        setText(counter.p, &IPerfCounter::put_Name, "Counter " + std::to_string(c));
      } else {
        setText(counter.p, &IPerfCounter::put_Name, tree::counterName(c));
        setText(counter.p, &IPerfCounter::put_Help, tree::counterHelp(c));
      }
      counter->put_CounterType(tree::counterType(c));
    }
    for (LONG i = 0; i < shape.instances; ++i) {
      Owned<IPerfInstance> instance;
      BSTR instanceName = text(tree::instanceName(i));
      object->CreateInstance(instanceName, instance.put());
      SysFreeString(instanceName);
      Owned<IPerfCounters> values;
      instance->get_PerfCounters(values.put());
      for (LONG c = 1; c <= shape.counters; ++c) {
        Owned<IPerfCounter> counter;
        values->get_Item(c, counter.put());
        setValue(counter.p, o, i, c);
      }
    }
  }
  return manager.detach();
}

// The manager's blob as bytes.
inline std::vector<BYTE> blobOf(IPerfMgr *manager) {
  VARIANT bytes;
  VariantInit(&bytes);
  std::vector<BYTE> blob;
  if (SUCCEEDED(manager->get_MyBlob(btAsBinaryArray, &bytes)) && V_VT(&bytes) == (VT_ARRAY | VT_UI1)) {
    const BYTE *data = static_cast<const BYTE *>(V_ARRAY(&bytes)->pvData);
    blob.assign(data, data + V_ARRAY(&bytes)->rgsabound[0].cElements);
  }
  VariantClear(&bytes);
  return blob;
}

// Reports a whole-tree benchmark per counter of the tree and in bytes.
inline void reportPerCounter(benchmark::State &state, const TreeShape &shape, size_t bytes) {
  state.counters["per_counter"] =
      benchmark::Counter(static_cast<double>(shape.totalCounters()),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
