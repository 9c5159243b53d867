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
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "rvOutsideComponents.h"
#include "CompanionModule.h"
#include "PerfCollector.h"
#include "PublishedTree.h"
#include "platform/fault_injection.h"
#include "rvTreePublisher.h"

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

// The common judgement of a failing run: the call ran out of memory, and said so.
void outOfMemory(HRESULT hr, const Bytes &) { EXPECT_EQ(E_OUTOFMEMORY, hr) << takeError().description; }

bool isOk(HRESULT hr) { return hr == S_OK; }

// One operation walked. `prepare` runs once and gives what the operation
// leaves when it succeeds, as `state` reads it; `setUp` runs before every
// run and allocates freely. A run in which the failure came is judged by
// `failed`, which is handed that state, and then the operation, run `again` on what the failure left,
// must succeed and leave that state. The walk ends with the first run that
// made fewer allocations than the one that would fail: it must be
// `succeeded` and leave the state too.
struct Operation {
  const char *name;
  std::function<Bytes()> prepare;
  std::function<HRESULT()> attempt;
  std::function<Bytes()> state;
  std::function<void()> setUp = [] {};
  std::function<void(HRESULT, const Bytes &)> failed = outOfMemory;
  std::function<HRESULT()> again = nullptr;  // the attempt itself when not given
  std::function<bool(HRESULT)> succeeded = isOk;
};

void walk(const Operation &operation) {
  SCOPED_TRACE(operation.name);
  const Bytes after = operation.prepare();
  const auto again = operation.again ? operation.again : operation.attempt;
  const auto recorded = [] {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
  };
  const int before = recorded();
  for (long n = 1;; ++n) {
    operation.setUp();
    PlatformFailNthAllocation(n);
    // An exception that leaves a COM call would end the caller's process;
    // here it fails the operation at the allocation that threw it.
    HRESULT hr = S_OK;
    bool escaped = false;
    try {
      hr = operation.attempt();
    } catch (...) {
      escaped = true;
    }
    const long seen = PlatformAllocationsSeen();
    PlatformStopFailingAllocations();
    if (seen < n) {
      EXPECT_TRUE(operation.succeeded(hr)) << "without a failure: " << std::hex << hr;
      break;
    }
    SCOPED_TRACE("allocation " + std::to_string(n));
    if (escaped) {
      ADD_FAILURE() << "a C++ exception left the call";
      break;
    }
    operation.failed(hr, after);
    EXPECT_EQ(S_OK, again()) << "failed again";
    EXPECT_EQ(after, operation.state());
    if (recorded() - before >= 20) {
      ADD_FAILURE() << "stopped at allocation " << n;
      break;
    }
  }
  EXPECT_EQ(after, operation.state());
}

// The error codes that counter values of the tree hold, in tree order.
std::vector<std::string> errorValues(IPerfMgr *manager) {
  std::vector<std::string> codes;
  const std::string tree = dump(manager);
  for (size_t at = 0; (at = tree.find(" ERROR:", at)) != std::string::npos; ++at)
    codes.push_back(tree.substr(at + 1, 14));
  return codes;
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

class AllocationFailure : public RegistrationFixture {
 protected:
  void SetUp() override {
    prepare("allocation", "RVAllocation");
    create(CLSID_PerfMgr, IID_IPerfMgr, sample);
    buildSample(sample.p);
    takeError();
  }

  void TearDown() override {
    removeAll({"x.h", "x.ini"});
    sample.reset();
    manager.reset();
    // Every object of every tree is gone: a reference that a failure path
    // kept would hold the module.
    EXPECT_EQ(S_OK, entry("DllCanUnloadNow")());
  }

  Ref<IPerfMgr> sample;
};

TEST_F(AllocationFailure, EveryOperationAtEveryAllocation) {
  const Bytes expected = blobOf(sample.p);
  Ref<IPerfMgr> target, copy, host, destination;
  for (Ref<IPerfMgr> *made : {&target, &copy, &host, &destination}) create(CLSID_PerfMgr, IID_IPerfMgr, *made);
  VARIANT blob;
  VariantInit(&blob);
  // The sample with some of its texts one character longer.
  const Bytes renamed = [&] {
    putBlob(target.p, expected);
    IPerfObjects *objects = objectsOf(target.p);
    for (LONG id : {2, 10}) {
      Ref<IPerfObject> object;
      objects->get_ItemByID(id, object.put());
      TestBstr help("help text");
      object->put_Help(help.value);
    }
    Ref<IPerfObject> object;
    objects->get_ItemByID(2, object.put());
    for (const char *name : {"alpha", "beta"}) {
      IPerfInstance *named = instance(object.p, name);
      TestBstr longer(std::string(name) + "!");
      named->put_Name(longer.value);
      counter(named, 4)->put_Name(longer.value);
    }
    return blobOf(target.p);
  }();

  // The host's object with instances, found again in the tree a blob rebuilt.
  Ref<IPerfObject> requests;
  auto restore = [&](const Bytes &bytes) {
    ASSERT_EQ(S_OK, putBlob(host.p, bytes));
    objectsOf(host.p)->get_ItemByID(2, requests.put());
  };
  const TestBstr gamma("gamma");
  auto createGamma = [&] {
    Ref<IPerfInstance> instance;
    return requests->CreateInstance(gamma.value, instance.put());
  };
  Bytes stale, reset;

  const TestBstr where(folder);
  // What Register leaves: both files and the Library value.
  const std::string performance = "SYSTEM\\CurrentControlSet\\Services\\" + device + "\\Performance";
  auto registered = [&] {
    char library[64] = {};
    DWORD size = sizeof library - 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, performance.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryValueExA(key, "Library", nullptr, nullptr, reinterpret_cast<BYTE *>(library), &size);
      RegCloseKey(key);
    }
    const std::string text = fileText(folder + "\\x.h") + "|" + fileText(folder + "\\x.ini") + "|" + library;
    return Bytes(text.begin(), text.end());
  };
  char tools[] = "/tmp/rv-allocation-tools-XXXXXX";

  // The collector in this process, for the service of a published tree
  // whose Library is this program.
  rv::publishing::TreePublisher publisher(wide(device).c_str());
  rv::collector::PerfCollector collector;
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

  // MyBlob put of the sample into `target`, which `ready` prepares before each run.
  auto putInto = [&](const char *name, std::function<void()> ready) {
    return Operation{.name = name,
                     .prepare = [&] { return expected; },
                     .attempt = [&] { return target->put_MyBlob(btAsBinaryArray, blob); },
                     .state = [&] { return blobOf(target.p); },
                     .setUp =
                         [&, ready] {
                           VariantClear(&blob);
                           blob = arrayOf(expected);
                           ready();
                         },
                     .again = [&] { return putBlob(target.p, expected); }};
  };
  const Operation operations[] = {
      // No rollback: the tree holds what was read, and a whole read replaces
      // it. Into an empty manager every node is new; over a tree of the same
      // shape whose texts differ in length, the nodes are written over.
      putInto("put_MyBlob", [&] { objectsOf(target.p)->RemoveAll(); }),
      putInto("put_MyBlob over a tree", [&] { putBlob(target.p, renamed); }),
      // A node's common interface is made when it is asked for.
      {.name = "QueryInterface for IPerfCommon",
       .prepare = [&] { return expected; },
       .attempt =
           [&] {
             Ref<IPerfCommon> common;
             return sample->QueryInterface(IID_IPerfCommon, common.putVoid());
           },
       .state = [&] { return blobOf(sample.p); }},
      {.name = "CopyFrom",
       .prepare = [&] { return expected; },
       .attempt = [&] { return copy->CopyFrom(sample.p); },
       .state = [&] { return blobOf(copy.p); },
       .setUp = [&] { objectsOf(copy.p)->RemoveAll(); }},
      // An instance added before a later step failed stays in the collection,
      // as the operation promises; without it the tree is the one it started
      // from, and the operation then succeeds.
      {.name = "CreateInstance",
       .prepare =
           [&] {
             restore(expected);
             EXPECT_EQ(S_OK, createGamma());
             return blobOf(host.p);
           },
       .attempt = createGamma,
       .state = [&] { return blobOf(host.p); },
       .setUp = [&] { restore(expected); },
       .failed =
           [&](HRESULT hr, const Bytes &) {
             outOfMemory(hr, {});
             IPerfInstances *instances = instancesOf(requests.p);
             const LONG count = countOf(instances);
             ASSERT_TRUE(count == 3 || count == 4);
             if (count == 4) {
               ASSERT_EQ(S_OK, instances->Remove(4));
             }
             EXPECT_EQ(expected, blobOf(host.p));
           }},
      // Totals from values that changed since they were last calculated.
      {.name = "CalcTotalInstances",
       .prepare =
           [&] {
             restore(expected);
             Ref<IPerfInstance> alpha;
             instancesOf(requests.p)->get_Item(1, alpha.put());
             setValue(counter(alpha.p, 4), "I4:7");
             setValue(counter(alpha.p, 6), "R8:2.5");
             stale = blobOf(host.p);
             EXPECT_EQ(S_OK, host->CalcTotalInstances());
             EXPECT_NE(stale, blobOf(host.p));
             return blobOf(host.p);
           },
       .attempt = [&] { return host->CalcTotalInstances(); },
       .state = [&] { return blobOf(host.p); },
       .setUp = [&] { ASSERT_EQ(S_OK, putBlob(host.p, stale)); }},
      // Storing a counter value that cannot be copied succeeds and leaves the
      // failure's code as the value: the one failure shows as one error value.
      {.name = "SyncronizeFrom",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, putBlob(destination.p, expected));
             EXPECT_EQ(S_OK, destination->ResetCounters());
             reset = blobOf(destination.p);
             EXPECT_EQ(S_OK, destination->SyncronizeFrom(sample.p));
             return blobOf(destination.p);
           },
       .attempt = [&] { return destination->SyncronizeFrom(sample.p); },
       .state = [&] { return blobOf(destination.p); },
       .setUp = [&] { ASSERT_EQ(S_OK, putBlob(destination.p, reset)); },
       .failed =
           [&](HRESULT hr, const Bytes &) {
             if (hr != S_OK) return outOfMemory(hr, {});
             takeError();
             EXPECT_EQ(std::vector<std::string>{"ERROR:8007000E"}, errorValues(destination.p));
           }},
      {.name = "Load",
       .prepare =
           [&] {
             writeDefinition(Definition);
             EXPECT_EQ(S_OK, manager->Load(where.value));
             return blobOf(manager.p);
           },
       .attempt = [&] { return manager->Load(where.value); },
       .state = [&] { return blobOf(manager.p); }},
      // unlodctr and lodctr that start and do nothing: what Register hands
      // them is the registration test's business.
      {.name = "Register",
       .prepare =
           [&] {
             EXPECT_NE(nullptr, mkdtemp(tools));
             for (const char *name : {"unlodctr", "lodctr"}) {
               const std::string path = std::string(tools) + "/" + name;
               FILE *tool = std::fopen(path.c_str(), "w");
               std::fputs("#!/bin/sh\nexit 0\n", tool);
               std::fclose(tool);
               chmod(path.c_str(), 0755);
             }
             setenv("WINPLATFORM_TOOLS", tools, 1);
             EXPECT_EQ(S_OK, manager->Register(where.value));
             return registered();
           },
       .attempt = [&] { return manager->Register(where.value); },
       .state = registered,
       .setUp =
           [&] {
             DeleteFileA((folder + "\\x.h").c_str());
             DeleteFileA((folder + "\\x.ini").c_str());
             RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + device).c_str());
           },
       .failed =
           [&](HRESULT hr, const Bytes &after) {
             const ErrorSeen error = takeError();
             if (hr == S_OK) {
               // Two failures are no failure of Register: a command that
               // cannot be started is logged and registration goes on, and
               // trace settings that cannot be read trace nothing. What
               // Register writes is complete all the same.
               EXPECT_EQ(after, registered());
             } else if (hr == E_FAIL) {
               // A file or registry call that fails reports the system's code
               // as a system error: here the code for running out of memory.
               EXPECT_EQ(0u, error.description.find("System error [ 0x00000008, ")) << error.description;
             } else {
               EXPECT_EQ(E_OUTOFMEMORY, hr) << error.description;
             }
           }},
      // A collector reports nothing but a short buffer: on any other failure
      // it succeeds with no data, leaving the buffer pointer as it was. A
      // failure it can do without (the service key of another device, say)
      // leaves the whole answer.
      {.name = "Collect",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, publisher.publish(expected.data(), expected.size()));
             char program[MAX_PATH] = {};
             GetModuleFileNameA(nullptr, program, MAX_PATH);
             HKEY key = nullptr;
             EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, performance.c_str(), 0, nullptr, 0,
                                                      KEY_ALL_ACCESS, nullptr, &key, nullptr));
             for (const auto &[name, value] :
                  {std::pair{"Library", std::string(program)}, std::pair{"Open", std::string("OpenNorvalePerfData")}})
               RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1));
             // Name indices as lodctr notes them, which the collector must not lose.
             for (const auto &[name, first] :
                  {std::pair{"First Counter", DWORD(2000)}, std::pair{"First Help", DWORD(2001)}})
               RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&first), sizeof first);
             RegCloseKey(key);
             EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), collector.open(nullptr));
             EXPECT_EQ(ERROR_SUCCESS, collect());
             EXPECT_EQ(2u, objects);
             return answer();
           },
       .attempt = collect,
       .state = answer,
       .failed =
           [&](HRESULT status, const Bytes &after) {
             EXPECT_EQ(ERROR_SUCCESS, status);
             if (bytes != 0) {
               EXPECT_EQ(after, answer());
             } else {
               EXPECT_EQ(0u, objects);
               EXPECT_EQ(buffer.data(), data);
             }
           },
       .succeeded = [&](HRESULT status) { return status == ERROR_SUCCESS && bytes != 0; }},
  };
  for (const Operation &operation : operations) walk(operation);

  collector.close();
  VariantClear(&blob);
  unsetenv("WINPLATFORM_TOOLS");
  for (const char *name : {"unlodctr", "lodctr"}) unlink((std::string(tools) + "/" + name).c_str());
  rmdir(tools);
}

// An object of another in-process module, made through its class object
// without registration.
template <typename I> void createIn(HMODULE module, REFCLSID clsid, REFIID iid, Ref<I> &out) {
  using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
  const auto get =
      reinterpret_cast<GetClassObject>(reinterpret_cast<void *>(GetProcAddress(module, "DllGetClassObject")));
  ASSERT_NE(nullptr, get);
  Ref<IClassFactory> factory;
  ASSERT_EQ(S_OK, get(clsid, IID_IClassFactory, factory.putVoid()));
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, iid, out.putVoid()));
}

Bytes bytesOf(const std::string &text) { return Bytes(text.begin(), text.end()); }

// The companion's settings, under HKEY_LOCAL_MACHINE.
const Text CompanionSettings = wide("SOFTWARE\\rvZedaZuvivurAzodav");

void setSetting(const char *subkey, const char *name, const std::string &value) {
  HKEY key = nullptr;
  const Text path = CompanionSettings + wide(std::string("\\") + subkey), text = wide(value);
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExW(key, wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(OLECHAR))));
  RegCloseKey(key);
}

// The lines of a record file without their first field, the time.
Bytes recordsWithoutTime(const std::string &path) {
  std::string out;
  const std::string text = fileText(path);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const size_t tab = text.find('\t', start);
    out += tab < end ? text.substr(tab, end - tab) : text.substr(start, end - start);
    start = end;
  }
  return bytesOf(out);
}

// The calls into the tree publisher and the companion, which run in the
// caller's process: running out of memory anywhere in them comes back as
// E_OUTOFMEMORY and leaves the object as usable as before, never as an
// exception that would end the caller, and never as a success that did
// something else (a record written to another file, a setting read as its
// default).
TEST_F(AllocationFailure, TreePublisherAndCompanionAtEveryAllocation) {
  writeDefinition(Definition);
  const TestBstr where(folder);
  ASSERT_EQ(S_OK, manager->Load(where.value));
  const Text deviceName = wide(device);

  HMODULE publisherModule = LoadLibraryA(PUBLISHER_MODULE), companionModule = LoadLibraryA(COMPANION_MODULE);
  ASSERT_NE(nullptr, publisherModule);
  ASSERT_NE(nullptr, companionModule);
  Ref<ITreePublisher> publisher;
  Ref<rv::IErrorLog> log;
  Ref<rv::ITraceSettings> trace;
  Ref<IDispatch> viewer;
  Ref<rv::IFolderBranding> branding;
  createIn(publisherModule, CLSID_TreePublisher, IID_ITreePublisher, publisher);
  createIn(companionModule, rv::CLSID_ErrorLog, rv::IID_IErrorLog, log);
  createIn(companionModule, rv::CLSID_TraceSettings, rv::IID_ITraceSettings, trace);
  createIn(companionModule, rv::companion::CLSID_ViewerHelper, IID_IDispatch, viewer);
  createIn(companionModule, rv::CLSID_FolderBranding, rv::IID_IFolderBranding, branding);

  // The published tree, or "none" while no host publishes one.
  auto published = [&] {
    std::vector<BYTE> blob;
    return rv::publishing::readPublishedTree(deviceName.c_str(), blob) == S_OK ? Bytes(blob.begin(), blob.end())
                                                                               : bytesOf("none");
  };
  auto publish = [&] { return publisher->Publish(manager.p); };

  const std::string errorFile = folder + "\\errors.txt", viewerFile = folder + "\\viewer.txt";
  setSetting("ErrorLog", "File", errorFile);
  setSetting("Trace", "ViewerFile", viewerFile);
  const Text ownTraceKey = CompanionSettings + wide("\\Trace\\Kit");
  const TestBstr source("source"), description("one\ttwo"), component("Component"), version("1.0"), module("module"),
      file("file.cpp"), procedure("Procedure"), brand("C:\\Brand"), name("Kit");
  auto logError = [&] {
    return log->LogError(source.value, E_INVALIDARG, description.value, 12, component.value, version.value,
                         module.value, file.value, procedure.value, 0, 1);
  };
  // LogMessage(message, level, component, module, procedure), by name.
  auto logMessage = [&] {
    VARIANT arguments[5];
    for (VARIANT &argument : arguments) VariantInit(&argument);
    const BSTR texts[] = {procedure.value, module.value, component.value, nullptr, description.value};
    for (int at = 0; at < 5; ++at) {
      V_VT(&arguments[at]) = at == 3 ? VT_I4 : VT_BSTR;
      if (at == 3)
        V_I4(&arguments[at]) = 3;
      else
        V_BSTR(&arguments[at]) = texts[at];
    }
    DISPPARAMS parameters = {arguments, nullptr, 5, 0};
    return viewer->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
  };
  LONG level = 0;
  VARIANT_BOOL shown = VARIANT_FALSE;
  BSTR folderRead = nullptr;
  auto getFolder = [&] {
    SysFreeString(folderRead);
    folderRead = nullptr;
    return branding->GetFolder(&folderRead);
  };
  auto levelSetting = [&] {
    DWORD value = 0, size = sizeof value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ownTraceKey.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      RegQueryValueExW(key, OLESTR("Level"), nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &size);
      RegCloseKey(key);
    }
    return bytesOf(std::to_string(value));
  };

  // A call that appends one record to a file that starts out missing.
  auto recordInto = [&](const char *name, std::function<HRESULT()> call, const std::string &path) {
    auto records = [path] { return recordsWithoutTime(path); };
    return Operation{.name = name,
                     .prepare =
                         [=] {
                           EXPECT_EQ(S_OK, call());
                           return records();
                         },
                     .attempt = call,
                     .state = records,
                     .setUp = [path] { DeleteFileA(path.c_str()); }};
  };

  const Operation operations[] = {
      {.name = "Publish",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, publish());
             return published();
           },
       .attempt = publish,
       .state = published,
       .setUp = [&] { publisher->Withdraw(); },
       // A section the system cannot make for want of memory fails with the
       // system's code for that, described like every failure of Publish.
       .failed =
           [&](HRESULT hr, const Bytes &) {
             const ErrorSeen error = takeError();
             if (hr != HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)) {
               EXPECT_EQ(E_OUTOFMEMORY, hr);
             }
             EXPECT_TRUE(error.description.find("memory") != std::string::npos ||
                         error.description.find("0x80070008") != std::string::npos)
                 << error.description;
           }},
      {.name = "Withdraw",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, publish());
             EXPECT_EQ(S_OK, publisher->Withdraw());
             return published();
           },
       .attempt = [&] { return publisher->Withdraw(); },
       .state = published,
       .setUp = [&] { ASSERT_EQ(S_OK, publish()); },
       // Taking the tree away needs no memory of its own: whatever the
       // system could not allocate while it closed the sections, the tree
       // is gone.
       .failed =
           [&](HRESULT hr, const Bytes &after) {
             EXPECT_EQ(S_OK, hr);
             EXPECT_EQ(after, published());
           }},
      recordInto("LogError", logError, errorFile),
      recordInto("LogMessage", logMessage, viewerFile),
      {.name = "SetTraceLevel",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, trace->SetComponentName(name.value));
             EXPECT_EQ(S_OK, trace->SetTraceLevel(4));
             return levelSetting();
           },
       .attempt = [&] { return trace->SetTraceLevel(4); },
       .state = levelSetting,
       .setUp = [&] { RegDeleteTreeW(HKEY_LOCAL_MACHINE, ownTraceKey.c_str()); }},
      {.name = "GetTraceLevel",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, trace->SetTraceLevel(4));
             EXPECT_EQ(S_OK, trace->GetTraceLevel(&level));
             return bytesOf(std::to_string(level));
           },
       .attempt = [&] { return trace->GetTraceLevel(&level); },
       .state = [&] { return bytesOf(std::to_string(level)); },
       .setUp = [&] { level = -1; }},
      {.name = "TraceRecord",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, trace->TraceRecord(description.value, 1, 3, &shown));
             return bytesOf(std::to_string(shown));
           },
       .attempt = [&] { return trace->TraceRecord(description.value, 1, 3, &shown); },
       .state = [&] { return bytesOf(std::to_string(shown)); },
       .setUp = [&] { shown = VARIANT_FALSE; }},
      {.name = "SetFolder",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, branding->SetFolder(brand.value));
             EXPECT_EQ(S_OK, getFolder());
             return bytesOf(narrow(folderRead));
           },
       .attempt = [&] { return branding->SetFolder(brand.value); },
       .state =
           [&] {
             getFolder();
             return bytesOf(narrow(folderRead));
           },
       .setUp = [&] { branding->SetFolder(nullptr); }},
      {.name = "GetFolder",
       .prepare =
           [&] {
             EXPECT_EQ(S_OK, getFolder());
             return bytesOf(narrow(folderRead));
           },
       .attempt = getFolder,
       .state = [&] { return bytesOf(narrow(folderRead)); }},
  };
  for (const Operation &operation : operations) walk(operation);

  SysFreeString(folderRead);
  EXPECT_EQ(S_OK, publisher->Withdraw());
  publisher.reset();
  log.reset();
  trace.reset();
  viewer.reset();
  branding.reset();
  using Entry = HRESULT(STDAPICALLTYPE *)();
  for (HMODULE loaded : {publisherModule, companionModule})
    EXPECT_EQ(S_OK, reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(loaded, "DllCanUnloadNow")))());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, CompanionSettings.c_str());
  DeleteFileA(errorFile.c_str());
  DeleteFileA(viewerFile.c_str());
  FreeLibrary(companionModule);
  FreeLibrary(publisherModule);
}

}  // namespace
