// The whole tree of 10 objects x 100 instances x 10 counters moved as the
// component's blob, next to the physical limit (a plain copy of the blob's
// bytes) and next to the peer a user would otherwise pick (Protocol Buffers
// serialising and parsing a message tree with the same fields and values).
// After the run it prints how MyBlob get and put compare with the peer.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchmarkHost.h"
#include "BenchmarkTree.h"
#include "PerfTree.pb.h"
#include "rvZedaZuvivurAzodav.h"

namespace {

const TreeShape shape;
IPerfMgr *manager = nullptr;
std::vector<BYTE> blob;
rvbench::Manager message;
std::string serialised;

void fillCounter(rvbench::Counter *counter, LONG o, LONG c) {
  counter->set_id(tree::counterId(shape, o, c));
  counter->set_name(tree::counterName(c));
  counter->set_help(tree::counterHelp(c));
  counter->set_counter_type(tree::counterType(c));
  counter->set_counter_size((tree::counterType(c) & PERF_SIZE_LARGE) ? 8 : 4);
}

void buildMessage() {
  message.set_device_name("RVBlobBench");
  message.set_cleanup_polling(900);
  for (LONG o = 0; o < shape.objects; ++o) {
    rvbench::PerfObject *object = message.add_objects();
    object->set_id(tree::objectId(shape, o));
    object->set_name(tree::objectName(o));
    object->set_help(tree::objectHelp(o));
    object->set_has_instances(true);
    object->set_instance_timeout(300);
    for (LONG c = 0; c < shape.counters; ++c) fillCounter(object->add_counters(), o, c);
    for (LONG i = 0; i < shape.instances; ++i) {
      rvbench::Instance *instance = object->add_instances();
      instance->set_id(i + 1);
      instance->set_name(tree::instanceName(i));
      instance->set_time_stamp(46000.5 + i);
      for (LONG c = 1; c <= shape.counters; ++c) {
        rvbench::Counter *counter = instance->add_counters();
        fillCounter(counter, o, c - 1);
        if (tree::holdsDouble(c))
          counter->set_real(tree::doubleValue(o, i, c));
        else
          counter->set_integer(tree::integerValue(o, i, c));
      }
    }
  }
  serialised = message.SerializeAsString();
}

bool build() {
  manager = buildManager(shape);
  if (manager == nullptr) return false;
  blob = blobOf(manager);
  buildMessage();
  return !blob.empty();
}

void MyBlobGet(benchmark::State &state) {
  for (auto _ : state) {
    VARIANT bytes;
    VariantInit(&bytes);
    if (FAILED(manager->get_MyBlob(btAsBinaryArray, &bytes))) state.SkipWithError("MyBlob get failed");
    benchmark::DoNotOptimize(V_ARRAY(&bytes));
    VariantClear(&bytes);
  }
  reportPerCounter(state, shape, blob.size());
}

void MyBlobPut(benchmark::State &state) {
  VARIANT bytes;
  VariantInit(&bytes);
  manager->get_MyBlob(btAsBinaryArray, &bytes);
  Owned<IPerfMgr> target = create<IPerfMgr>(CLSID_PerfMgr, IID_IPerfMgr);
  for (auto _ : state)
    if (FAILED(target->put_MyBlob(btAsBinaryArray, bytes))) state.SkipWithError("MyBlob put failed");
  VariantClear(&bytes);
  reportPerCounter(state, shape, blob.size());
}

// The same put into a new manager each time, so that every node is made
// anew; making the manager and releasing what it built are not timed.
void MyBlobPutNew(benchmark::State &state) {
  VARIANT bytes;
  VariantInit(&bytes);
  manager->get_MyBlob(btAsBinaryArray, &bytes);
  for (auto _ : state) {
    state.PauseTiming();
    Owned<IPerfMgr> target = create<IPerfMgr>(CLSID_PerfMgr, IID_IPerfMgr);
    state.ResumeTiming();
    if (FAILED(target->put_MyBlob(btAsBinaryArray, bytes))) state.SkipWithError("MyBlob put failed");
    state.PauseTiming();
    target.detach()->Release();
    state.ResumeTiming();
  }
  VariantClear(&bytes);
  reportPerCounter(state, shape, blob.size());
}

void PlainCopy(benchmark::State &state) {
  std::vector<BYTE> target(blob.size());
  for (auto _ : state) {
    std::memcpy(target.data(), blob.data(), blob.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  reportPerCounter(state, shape, blob.size());
}

void ProtobufSerialise(benchmark::State &state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    if (!message.SerializeToString(&out)) state.SkipWithError("protobuf could not serialise the tree");
    benchmark::DoNotOptimize(out.data());
  }
  reportPerCounter(state, shape, serialised.size());
}

void ProtobufParse(benchmark::State &state) {
  rvbench::Manager parsed;
  for (auto _ : state)
    if (!parsed.ParseFromString(serialised)) state.SkipWithError("protobuf could not parse the tree");
  reportPerCounter(state, shape, serialised.size());
}

BENCHMARK(MyBlobGet)->Unit(benchmark::kMillisecond);
BENCHMARK(MyBlobPut)->Unit(benchmark::kMillisecond);
// Protobuf parsing into a new message each time, likewise.
void ProtobufParseNew(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto parsed = std::make_unique<rvbench::Manager>();
    state.ResumeTiming();
    if (!parsed->ParseFromString(serialised)) state.SkipWithError("protobuf could not parse the tree");
    state.PauseTiming();
    parsed.reset();
    state.ResumeTiming();
  }
  reportPerCounter(state, shape, serialised.size());
}

BENCHMARK(MyBlobPutNew)->Unit(benchmark::kMillisecond);
BENCHMARK(ProtobufParseNew)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(ProtobufSerialise)->Unit(benchmark::kMillisecond);
BENCHMARK(ProtobufParse)->Unit(benchmark::kMillisecond);

void compare(const Timings &timings) {
  printRatio(timings, "MyBlob get / protobuf serialise", "MyBlobGet", "ProtobufSerialise");
  printRatio(timings, "MyBlob put / protobuf parse", "MyBlobPut", "ProtobufParse");
  printRatio(timings, "MyBlob put / protobuf parse, both into new trees", "MyBlobPutNew", "ProtobufParseNew");
  printRatio(timings, "MyBlob get / plain copy", "MyBlobGet", "PlainCopy");
  printRatio(timings, "MyBlob put / plain copy", "MyBlobPut", "PlainCopy");
}

}  // namespace

int main(int argc, char **argv) {
  return runBenchmarks(
      argc, argv, build,
      [] {
        if (manager) manager->Release();
      },
      compare);
}
