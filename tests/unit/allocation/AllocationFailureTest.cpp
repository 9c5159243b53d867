// Running out of memory at every allocation of an operation in turn: the
// platform's strings, arrays and task memory and this program's operator new
// fail once each, at the first allocation, then the second, and so on until
// the operation makes fewer allocations than the one that would fail. Every
// failing run must end in the result the operation gives for running out of
// memory, leak nothing, and leave a tree on which the same operation, run
// again, gives exactly the tree a run without failure gives.
#include "RegistrationFixture.h"
#include "Trees.h"

#include <winperf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "PerfCollector.h"
#include "PublishedTree.h"
#include "platform/fault_injection.h"

// The program's operator new counts in the platform's count, so that the
// component's, the platform's and the standard library's own allocations
// fail in turn with the others.
void *operator new(std::size_t size) {
  if (PlatformAllocationFails()) throw std::bad_alloc();
  if (void *block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return ::operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  if (PlatformAllocationFails()) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return ::operator new(size, tag); }
void operator delete(void *block) noexcept { std::free(block); }
void operator delete[](void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t) noexcept { std::free(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept { std::free(block); }
void operator delete[](void *block, const std::nothrow_t &) noexcept { std::free(block); }

using namespace trees;

namespace {

using Bytes = std::vector<BYTE>;

// What one walk found: the runs in which the failure came.
struct Walk {
  long failurePoints = 0;
};

// Runs `attempt` with the nth allocation failing, n = 1, 2, ..., each after
// `setUp` (which allocates freely); `judge` checks each run in which the
// failure came. The walk ends with the first run that made fewer than n
// allocations, which must be `succeeded`.
Walk walk(const char *operation, const std::function<void()> &setUp, const std::function<HRESULT()> &attempt,
          const std::function<void(HRESULT, long)> &judge, const std::function<bool(HRESULT)> &succeeded) {
  Walk result;
  const auto recorded = [] { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); };
  const int before = recorded();
  for (long n = 1;; ++n) {
    setUp();
    PlatformFailNthAllocation(n);
    const HRESULT hr = attempt();
    const long seen = PlatformAllocationsSeen();
    PlatformStopFailingAllocations();
    if (seen < n) {
      EXPECT_TRUE(succeeded(hr)) << operation << " without a failure: " << std::hex << hr;
      break;
    }
    ++result.failurePoints;
    judge(hr, n);
    if (recorded() - before >= 20) {
      ADD_FAILURE() << operation << " stopped at allocation " << n;
      break;
    }
  }
  std::printf("[ alloc    ] %s: %ld failure points\n", operation, result.failurePoints);
  ::testing::Test::RecordProperty(operation, static_cast<int>(result.failurePoints));
  return result;
}

bool isOk(HRESULT hr) { return hr == S_OK; }

Bytes bytesOf(const VARIANT &blob) {
  SAFEARRAY *array = V_ARRAY(&blob);
  const BYTE *data = static_cast<const BYTE *>(array->pvData);
  return Bytes(data, data + array->rgsabound[0].cElements);
}

template <typename Node> Bytes blobOf(Node *node) {
  VARIANT blob;
  VariantInit(&blob);
  EXPECT_EQ(S_OK, node->get_MyBlob(btAsBinaryArray, &blob));
  Bytes bytes = V_VT(&blob) == (VT_ARRAY | VT_UI1) ? bytesOf(blob) : Bytes();
  VariantClear(&blob);
  return bytes;
}

// A byte array of its own for every read: reading moves the cursor inside it.
VARIANT arrayOf(const Bytes &bytes) {
  VARIANT blob;
  VariantInit(&blob);
  V_VT(&blob) = VT_ARRAY | VT_UI1;
  V_ARRAY(&blob) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  std::memcpy(V_ARRAY(&blob)->pvData, bytes.data(), bytes.size());
  return blob;
}

template <typename Node> HRESULT putBlob(Node *node, const Bytes &bytes) {
  VARIANT blob = arrayOf(bytes);
  const HRESULT hr = node->put_MyBlob(btAsBinaryArray, blob);
  VariantClear(&blob);
  return hr;
}

// The error codes that counter values of the tree hold, in tree order.
std::vector<HRESULT> errorValues(IPerfMgr *manager) {
  std::vector<HRESULT> codes;
  auto scan = [&](IPerfCounters *counters) {
    for (LONG i = 1; i <= countOf(counters); ++i) {
      Ref<IPerfCounter> counter;
      counters->get_Item(i, counter.put());
      VARIANT value;
      VariantInit(&value);
      counter->get_Value(&value);
      if (V_VT(&value) == VT_ERROR) codes.push_back(V_ERROR(&value));
      VariantClear(&value);
    }
  };
  Ref<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  for (LONG i = 1; i <= countOf(objects.p); ++i) {
    Ref<IPerfObject> object;
    objects->get_Item(i, object.put());
    Ref<IPerfCounters> counters;
    object->get_PerfCounters(counters.put());
    scan(counters.p);
    Ref<IPerfInstances> instances;
    object->get_PerfInstances(instances.put());
    for (LONG j = 1; j <= countOf(instances.p); ++j) {
      Ref<IPerfInstance> instance;
      instances->get_Item(j, instance.put());
      Ref<IPerfCounters> live;
      instance->get_PerfCounters(live.put());
      scan(live.p);
    }
  }
  return codes;
}

void writeFile(const std::string &path, const std::string &text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

class AllocationFailure : public ComponentFixture {
 protected:
  void SetUp() override {
    OLECHAR temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = narrow(temp) + "allocation-" + std::to_string(GetCurrentProcessId());
    device = "RVAllocation" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    create(CLSID_PerfMgr, IID_IPerfMgr, sample);
    buildSample(sample.p);
    expected = blobOf(sample.p);
    takeError();
  }

  void TearDown() override {
    for (const char *name : {"RVCounters.xml", "x.h", "x.ini"}) DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA(folder.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + device).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + device).c_str());
    sample.reset();
    // Every object of every tree is gone: a reference that a failure path
    // kept would hold the module.
    EXPECT_EQ(S_OK, entry("DllCanUnloadNow")());
  }

  // The common judgement: the call ran out of memory, and said so.
  static void outOfMemory(HRESULT hr, long n) {
    const ErrorSeen error = takeError();
    EXPECT_EQ(E_OUTOFMEMORY, hr) << "allocation " << n << ": " << error.description;
  }

  std::string folder, device;
  Ref<IPerfMgr> sample;
  Bytes expected;
};

TEST_F(AllocationFailure, ReadingAndCopyingATree) {
  Ref<IPerfMgr> target;
  create(CLSID_PerfMgr, IID_IPerfMgr, target);
  VARIANT blob;
  VariantInit(&blob);
  walk(
      "put_MyBlob",
      [&] {
        VariantClear(&blob);
        blob = arrayOf(expected);
      },
      [&] { return target->put_MyBlob(btAsBinaryArray, blob); },
      [&](HRESULT hr, long n) {
        outOfMemory(hr, n);
        // No rollback: the tree holds what was read, and a whole read replaces it.
        ASSERT_EQ(S_OK, putBlob(target.p, expected));
        EXPECT_EQ(expected, blobOf(target.p)) << "allocation " << n;
      },
      isOk);
  VariantClear(&blob);
  EXPECT_EQ(expected, blobOf(target.p));

  Ref<IPerfMgr> copy;
  create(CLSID_PerfMgr, IID_IPerfMgr, copy);
  walk(
      "CopyFrom", [] {}, [&] { return copy->CopyFrom(sample.p); },
      [&](HRESULT hr, long n) {
        outOfMemory(hr, n);
        ASSERT_EQ(S_OK, copy->CopyFrom(sample.p));
        EXPECT_EQ(expected, blobOf(copy.p)) << "allocation " << n;
      },
      isOk);
  EXPECT_EQ(expected, blobOf(copy.p));
}

TEST_F(AllocationFailure, CreatingInstancesAndTotals) {
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  Ref<IPerfObject> requests;
  auto restore = [&] {
    ASSERT_EQ(S_OK, putBlob(manager.p, expected));
    Ref<IPerfObjects> objects;
    manager->get_PerfObjects(objects.put());
    objects->get_ItemByID(2, requests.put());
  };
  const TestBstr gamma("gamma");
  Bytes created;
  {
    restore();
    Ref<IPerfInstance> instance;
    ASSERT_EQ(S_OK, requests->CreateInstance(gamma.value, instance.put()));
    created = blobOf(manager.p);
  }
  walk(
      "CreateInstance", restore,
      [&] {
        Ref<IPerfInstance> instance;
        return requests->CreateInstance(gamma.value, instance.put());
      },
      [&](HRESULT hr, long n) {
        outOfMemory(hr, n);
        // An instance added before a later step failed stays in the
        // collection, as the operation promises; without it the tree is
        // the one it started from, and the operation then succeeds.
        Ref<IPerfInstances> instances;
        requests->get_PerfInstances(instances.put());
        const LONG count = countOf(instances.p);
        ASSERT_TRUE(count == 3 || count == 4) << "allocation " << n;
        if (count == 4) {
          ASSERT_EQ(S_OK, instances->Remove(4));
        }
        EXPECT_EQ(expected, blobOf(manager.p)) << "allocation " << n;
        Ref<IPerfInstance> instance;
        ASSERT_EQ(S_OK, requests->CreateInstance(gamma.value, instance.put()));
        EXPECT_EQ(created, blobOf(manager.p)) << "allocation " << n;
      },
      isOk);
  EXPECT_EQ(created, blobOf(manager.p));

  // Totals from values that changed since they were last calculated.
  Bytes stale, calculated;
  {
    restore();
    Ref<IPerfInstances> instances;
    requests->get_PerfInstances(instances.put());
    Ref<IPerfInstance> alpha;
    instances->get_Item(1, alpha.put());
    setValue(counter(alpha.p, 4), "I4:7");
    setValue(counter(alpha.p, 6), "R8:2.5");
    stale = blobOf(manager.p);
    ASSERT_EQ(S_OK, manager->CalcTotalInstances());
    calculated = blobOf(manager.p);
    ASSERT_NE(stale, calculated);
  }
  walk(
      "CalcTotalInstances", [&] { ASSERT_EQ(S_OK, putBlob(manager.p, stale)); },
      [&] { return manager->CalcTotalInstances(); },
      [&](HRESULT hr, long n) {
        outOfMemory(hr, n);
        ASSERT_EQ(S_OK, manager->CalcTotalInstances());
        EXPECT_EQ(calculated, blobOf(manager.p)) << "allocation " << n;
      },
      isOk);
  EXPECT_EQ(calculated, blobOf(manager.p));
}

TEST_F(AllocationFailure, SynchronisingValues) {
  Ref<IPerfMgr> destination;
  create(CLSID_PerfMgr, IID_IPerfMgr, destination);
  ASSERT_EQ(S_OK, putBlob(destination.p, expected));
  ASSERT_EQ(S_OK, destination->ResetCounters());
  const Bytes reset = blobOf(destination.p);
  ASSERT_EQ(S_OK, destination->SyncronizeFrom(sample.p));
  const Bytes synchronised = blobOf(destination.p);
  walk(
      "SyncronizeFrom", [&] { ASSERT_EQ(S_OK, putBlob(destination.p, reset)); },
      [&] { return destination->SyncronizeFrom(sample.p); },
      [&](HRESULT hr, long n) {
        const ErrorSeen error = takeError();
        if (hr == S_OK) {
          // Storing a counter value that cannot be copied succeeds and
          // leaves the failure's code as the value: the one failure shows
          // as one error value.
          EXPECT_EQ(std::vector<HRESULT>{E_OUTOFMEMORY}, errorValues(destination.p)) << "allocation " << n;
        } else {
          EXPECT_EQ(E_OUTOFMEMORY, hr) << "allocation " << n << ": " << error.description;
        }
        ASSERT_EQ(S_OK, destination->SyncronizeFrom(sample.p));
        EXPECT_EQ(synchronised, blobOf(destination.p)) << "allocation " << n;
      },
      isOk);
  EXPECT_EQ(synchronised, blobOf(destination.p));
}

// Object A with counters a1 and a2, then object B with counter b1.
const char Definition[] =
    "<PerfData headerFile=\"x.h\" iniFile=\"x.ini\" perfmonDLLFile=\"x.dll\" deviceName=\"%DEVICE%\" "
    "instanceCleannupPolling=\"900\">"
    "<Object name=\"A\" help=\"hA\" hasInstances=\"true\" autoCreateInstanceTotal=\"true\" instanceTimeout=\"60\">"
    "<Counter name=\"a1\" help=\"ha1\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/>"
    "<Counter name=\"a2\" help=\"ha2\" defaultScale=\"-1\" counterType=\"PERF_AVERAGE_BULK\" "
    "autoCalcInstanceTotal=\"avg\"/></Object>"
    "<Object name=\"B\" help=\"hB\" hasInstances=\"false\" autoCreateInstanceTotal=\"false\" instanceTimeout=\"0\">"
    "<Counter name=\"b1\" help=\"hb1\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/></Object>"
    "</PerfData>";

TEST_F(AllocationFailure, LoadingAndRegistering) {
  std::string text = Definition;
  text.replace(text.find("%DEVICE%"), 8, device);
  writeFile(folder + "\\RVCounters.xml", text);
  const TestBstr where(folder);
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  ASSERT_EQ(S_OK, manager->Load(where.value));
  const Bytes loaded = blobOf(manager.p);
  walk(
      "Load", [] {}, [&] { return manager->Load(where.value); },
      [&](HRESULT hr, long n) {
        outOfMemory(hr, n);
        ASSERT_EQ(S_OK, manager->Load(where.value));
        EXPECT_EQ(loaded, blobOf(manager.p)) << "allocation " << n;
      },
      isOk);
  EXPECT_EQ(loaded, blobOf(manager.p));

  // unlodctr and lodctr that start and do nothing: what Register hands them
  // is the registration test's business.
  char tools[] = "/tmp/rv-allocation-tools-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tools));
  for (const char *name : {"unlodctr", "lodctr"}) {
    const std::string path = std::string(tools) + "/" + name;
    FILE *tool = std::fopen(path.c_str(), "w");
    std::fputs("#!/bin/sh\nexit 0\n", tool);
    std::fclose(tool);
    chmod(path.c_str(), 0755);
  }
  setenv("WINPLATFORM_TOOLS", tools, 1);

  ASSERT_EQ(S_OK, manager->Register(where.value));
  const std::string header = fileText(folder + "\\x.h"), ini = fileText(folder + "\\x.ini");
  const std::string serviceKey = "SYSTEM\\CurrentControlSet\\Services\\" + device + "\\Performance";
  auto library = [&] {
    char value[64] = {};
    DWORD size = sizeof value - 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serviceKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
    RegQueryValueExA(key, "Library", nullptr, nullptr, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    return std::string(value);
  };
  auto clean = [&] {
    DeleteFileA((folder + "\\x.h").c_str());
    DeleteFileA((folder + "\\x.ini").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + device).c_str());
  };
  walk(
      "Register", clean, [&] { return manager->Register(where.value); },
      [&](HRESULT hr, long n) {
        const ErrorSeen error = takeError();
        if (hr == S_OK) {
          // Two failures are no failure of Register: a command that cannot
          // be started is logged and registration goes on, and trace
          // settings that cannot be read trace nothing. What Register writes
          // is complete all the same.
          EXPECT_EQ(header, fileText(folder + "\\x.h")) << "allocation " << n;
          EXPECT_EQ(ini, fileText(folder + "\\x.ini")) << "allocation " << n;
          EXPECT_EQ("x.dll", library()) << "allocation " << n;
        } else if (hr == E_FAIL) {
          // A file or registry call that fails reports the system's code as
          // a system error: here the code for running out of memory.
          EXPECT_EQ(0u, error.description.find("System error [ 0x00000008, ")) << "allocation " << n << ": "
                                                                               << error.description;
        } else {
          EXPECT_EQ(E_OUTOFMEMORY, hr) << "allocation " << n << ": " << error.description;
        }
        ASSERT_EQ(S_OK, manager->Register(where.value));
        EXPECT_EQ(header, fileText(folder + "\\x.h")) << "allocation " << n;
        EXPECT_EQ(ini, fileText(folder + "\\x.ini")) << "allocation " << n;
        EXPECT_EQ("x.dll", library()) << "allocation " << n;
      },
      isOk);
  EXPECT_EQ(header, fileText(folder + "\\x.h"));
  unsetenv("WINPLATFORM_TOOLS");
  for (const char *name : {"unlodctr", "lodctr"}) unlink((std::string(tools) + "/" + name).c_str());
  rmdir(tools);
}

// The collector in this process, for the service of a published tree whose
// Library is this program.
TEST_F(AllocationFailure, CollectingPerformanceData) {
  rv::publishing::TreePublisher publisher(wide(device).c_str());
  ASSERT_EQ(S_OK, publisher.publish(expected.data(), expected.size()));
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const std::string serviceKey = "SYSTEM\\CurrentControlSet\\Services\\" + device + "\\Performance";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, serviceKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  for (const auto &[name, data] : {std::pair{"Library", std::string(program)},
                                   std::pair{"Open", std::string("OpenNorvalePerfData")}})
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
  // Name indices as lodctr notes them, which the collector must not lose.
  for (const auto &[name, first] : {std::pair{"First Counter", DWORD(2000)}, std::pair{"First Help", DWORD(2001)}})
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&first), sizeof first);
  RegCloseKey(key);

  rv::collector::PerfCollector collector;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), collector.open(nullptr));
  Bytes buffer(1 << 16);
  WCHAR query[] = OLESTR("Global");
  DWORD bytes = 0, objects = 0;
  void *data = nullptr;
  auto collect = [&]() -> HRESULT {
    data = buffer.data();
    bytes = static_cast<DWORD>(buffer.size());
    return static_cast<HRESULT>(collector.collect(query, &data, &bytes, &objects));
  };
  // The data with the clock's reading taken out of every object.
  auto answer = [&] {
    Bytes out(buffer.begin(), buffer.begin() + bytes);
    for (size_t at = 0, count = 0; count < objects && at + sizeof(PERF_OBJECT_TYPE) <= out.size(); ++count) {
      PERF_OBJECT_TYPE *object = reinterpret_cast<PERF_OBJECT_TYPE *>(out.data() + at);
      object->PerfTime = {};
      at += object->TotalByteLength;
    }
    return out;
  };
  ASSERT_EQ(ERROR_SUCCESS, collect());
  ASSERT_EQ(2u, objects);
  const Bytes collected = answer();
  walk(
      "Collect", [] {}, collect,
      [&](HRESULT status, long n) {
        // A collector reports nothing but a short buffer: on any other
        // failure it succeeds with no data, leaving the buffer pointer as
        // it was. A failure it can do without (the service key of another
        // device, say) leaves the whole answer.
        EXPECT_EQ(ERROR_SUCCESS, status) << "allocation " << n;
        if (bytes != 0) {
          EXPECT_EQ(collected, answer()) << "allocation " << n;
        } else {
          EXPECT_EQ(0u, objects) << "allocation " << n;
          EXPECT_EQ(buffer.data(), data) << "allocation " << n;
        }
        ASSERT_EQ(ERROR_SUCCESS, collect());
        EXPECT_EQ(collected, answer()) << "allocation " << n;
      },
      [&](HRESULT status) { return status == ERROR_SUCCESS && bytes != 0; });
  collector.close();
}

}  // namespace
