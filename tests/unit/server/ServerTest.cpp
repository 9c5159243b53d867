// The module as COM sees it: registration, class objects, the interface
// tables, aggregation and dispatch through the registered type library.
#include "ComponentFixture.h"

#include "ChildProcess.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

struct ClassInfo {
  const char *name;
  const CLSID *clsid;
  const IID *iid;
  bool collection;
  LONG itemType;
};

const ClassInfo classes[] = {
    {"PerfCounter", &CLSID_PerfCounter, &IID_IPerfCounter, false, 5},
    {"PerfObject", &CLSID_PerfObject, &IID_IPerfObject, false, 3},
    {"PerfCounters", &CLSID_PerfCounters, &IID_IPerfCounters, true, 4},
    {"PerfObjects", &CLSID_PerfObjects, &IID_IPerfObjects, true, 2},
    {"PerfMgr", &CLSID_PerfMgr, &IID_IPerfMgr, false, 1},
    {"PerfInstance", &CLSID_PerfInstance, &IID_IPerfInstance, false, 7},
    {"PerfInstances", &CLSID_PerfInstances, &IID_IPerfInstances, true, 6},
};

std::string guidText(const GUID &guid) {
  OLECHAR text[40];
  StringFromGUID2(guid, text, 40);
  return narrow(text);
}

// A value of a key of HKEY_CLASSES_ROOT: "<missing>" when the key or the
// named value is not there, "<no value>" when the key has no default value.
std::string regText(const std::string &key, const char *value = nullptr) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, wide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<missing>";
  OLECHAR data[1024] = {};
  DWORD size = sizeof data, type = 0;
  const Text name = value ? wide(value) : Text();
  const LONG error =
      RegQueryValueExW(handle, value ? name.c_str() : nullptr, nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
  RegCloseKey(handle);
  if (error != ERROR_SUCCESS) return value || error != ERROR_FILE_NOT_FOUND ? "<missing>" : "<no value>";
  return narrow(data);
}

DWORD subkeyCount(const std::string &key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, wide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(handle);
  return count;
}

class Server : public ComponentFixture {
 protected:
  static HRESULT classObject(REFCLSID clsid, IClassFactory **factory) {
    using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
    return reinterpret_cast<GetClassObject>(reinterpret_cast<void *>(GetProcAddress(module_, "DllGetClassObject")))(
        clsid, IID_IClassFactory, reinterpret_cast<void **>(factory));
  }
  static HRESULT canUnloadNow() { return entry("DllCanUnloadNow")(); }
};

TEST_F(Server, RegistrationWritesTheKeysOfEveryClassOnceAndTakesThemAway) {
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    const std::string progId = std::string("rvZedaZuvivurAzodav_83.") + c.name;
    const std::string title = std::string(c.name) + " Class";
    const std::string clsid = guidText(*c.clsid);
    const std::string key = "CLSID\\" + clsid;
    EXPECT_EQ(title, regText(progId));
    EXPECT_EQ(clsid, regText(progId + "\\CLSID"));
    EXPECT_EQ(title, regText(key));
    EXPECT_EQ(progId, regText(key + "\\ProgID"));
    EXPECT_EQ(progId, regText(key + "\\VersionIndependentProgID"));
    EXPECT_EQ("<no value>", regText(key + "\\Programmable"));
    EXPECT_EQ(modulePath(), regText(key + "\\InprocServer32"));
    EXPECT_EQ("Both", regText(key + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ("{507DD558-5BC4-4529-A422-CF9A372E3052}", regText(key + "\\TypeLib"));
    EXPECT_EQ(5u, subkeyCount(key));
  }
  ITypeLib *library = nullptr;
  ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, &library));
  library->Release();

  // Registering twice leaves one set; unregistering keeps CLSID itself.
  ASSERT_EQ(S_OK, entry("DllRegisterServer")());
  for (const ClassInfo &c : classes) EXPECT_EQ(5u, subkeyCount("CLSID\\" + guidText(*c.clsid)));
  ASSERT_EQ(S_OK, entry("DllUnregisterServer")());
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ("<missing>", regText("CLSID\\" + guidText(*c.clsid)));
    EXPECT_EQ("<missing>", regText(std::string("rvZedaZuvivurAzodav_83.") + c.name));
  }
  EXPECT_NE("<missing>", regText("CLSID"));
  library = nullptr;
  EXPECT_NE(S_OK, LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, &library));
  if (library) library->Release();

  ASSERT_EQ(S_OK, entry("DllRegisterServer")());
}

// A byte-for-byte copy of a file, by wide paths.
bool copyFile(const Text &from, const Text &to) {
  HANDLE in = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  bool copied = out != INVALID_HANDLE_VALUE;
  char buffer[65536];
  DWORD read = 0, written = 0;
  while (copied && ReadFile(in, buffer, sizeof buffer, &read, nullptr) && read != 0)
    copied = WriteFile(out, buffer, read, &written, nullptr) && written == read;
  CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return copied;
}

// The module registered from folders whose names a registration script must
// quote with care (an apostrophe, braces, blanks, letters beyond ASCII) is
// registered by its whole path, every class is created there by its ProgID,
// and unregistering leaves no key of ours.
TEST_F(Server, RegistersAndIsCreatedFromAnyFolder) {
  WCHAR temp[MAX_PATH] = {};
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const Text source = wide(modulePath());
  const Text fileName = source.substr(source.find_last_of(OLESTR("\\/")) + 1);
  const Text suffix = wide(" " + std::to_string(GetCurrentProcessId()));
  for (const Text &name :
       {Text(OLESTR("O'Brien")), Text(OLESTR("{braces} and 'quotes'")), Text(OLESTR("Zo\u00EB's dir"))}) {
    SCOPED_TRACE(narrow(name.c_str()));
    const Text folder = Text(temp) + name + suffix;
    const Text copy = folder + OLESTR("\\") + fileName;
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(copyFile(source, copy));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(nullptr, module);
    auto call = [&](const char *name) {
      using Entry = HRESULT(STDAPICALLTYPE *)();
      return reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(module, name)))();
    };
    EXPECT_EQ(S_OK, call("DllRegisterServer"));
    for (const ClassInfo &c : classes) {
      SCOPED_TRACE(c.name);
      const std::string key = "CLSID\\" + guidText(*c.clsid);
      const Text progId = wide(std::string("rvZedaZuvivurAzodav_83.") + c.name);
      EXPECT_EQ(narrow(copy.c_str()), regText(key + "\\InprocServer32"));
      EXPECT_EQ("Both", regText(key + "\\InprocServer32", "ThreadingModel"));
      EXPECT_EQ(5u, subkeyCount(key));
      CLSID clsid = {};
      EXPECT_EQ(S_OK, CLSIDFromProgID(progId.c_str(), &clsid));
      IUnknown *object = nullptr;
      EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       reinterpret_cast<void **>(&object)));
      if (object != nullptr) object->Release();
    }
    EXPECT_EQ(S_OK, call("DllUnregisterServer"));
    for (const ClassInfo &c : classes) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ("<missing>", regText("CLSID\\" + guidText(*c.clsid)));
      EXPECT_EQ("<missing>", regText(std::string("rvZedaZuvivurAzodav_83.") + c.name));
    }
    ITypeLib *library = nullptr;
    EXPECT_NE(S_OK, LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, &library));
    if (library != nullptr) library->Release();
    CoFreeUnusedLibraries();
    FreeLibrary(module);
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
  }
  // The other tests find the module registered from where it was built.
  ASSERT_EQ(S_OK, entry("DllRegisterServer")());
}

// A class object held by a client holds the module, as a lock does without
// any object; the module's own reference to its class objects does not.
TEST_F(Server, ClassObjects) {
  const CLSID unknown = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
  IClassFactory *none = reinterpret_cast<IClassFactory *>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, classObject(unknown, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(E_POINTER, classObject(unknown, nullptr));

  EXPECT_EQ(S_OK, canUnloadNow());
  Ref<IClassFactory> factory, again;
  ASSERT_EQ(S_OK, classObject(CLSID_PerfCounter, factory.put()));
  ASSERT_EQ(S_OK, classObject(CLSID_PerfCounter, again.put()));
  EXPECT_EQ(factory.p, again.p);
  EXPECT_EQ(S_FALSE, canUnloadNow());
  IUnknown *object = reinterpret_cast<IUnknown *>(1);
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            factory->CreateInstance(factory.p, IID_IPerfCounter, reinterpret_cast<void **>(&object)));
  EXPECT_EQ(nullptr, object);
  factory->LockServer(TRUE);
  factory.reset();
  again.reset();
  EXPECT_EQ(S_FALSE, canUnloadNow());
  ASSERT_EQ(S_OK, classObject(CLSID_PerfMgr, factory.put()));
  factory->LockServer(FALSE);
  factory.reset();
  EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(Server, EveryClassAnswersItsInterfaceTable) {
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    Ref<IUnknown> object;
    create(*c.clsid, IID_IUnknown, object);
    // The object holds the module while it lives.
    EXPECT_EQ(S_FALSE, canUnloadNow());

    std::vector<const IID *> answered = {&IID_IDispatch, c.iid, &IID_IPerfCommon, &IID_IPerfTransfer,
                                         &IID_ISupportErrorInfo};
    if (c.collection) answered.push_back(&IID_IPerfCollection);
    for (const IID *iid : answered) {
      // Every interface leads back to the same identity.
      Ref<IUnknown> answer, identity;
      EXPECT_EQ(S_OK, object->QueryInterface(*iid, answer.putVoid())) << guidText(*iid);
      ASSERT_EQ(S_OK, answer->QueryInterface(IID_IUnknown, identity.putVoid()));
      EXPECT_EQ(object.p, identity.p);
    }
    // Nothing beyond the table: not even an identity private to the
    // component, as one once served to tell its own nodes apart.
    static const IID privateNode = {0x8ccc43f9, 0x8334, 0x4fd7, {0x8d, 0x36, 0xa4, 0xa1, 0xf0, 0x29, 0x17, 0xc7}};
    for (const IID *iid : {&IID_IPerfCounter, &IID_IPerfMgr, &IID_IPerfCollection, &IID_IClassFactory,
                           &IID_IEnumVARIANT, &privateNode}) {
      if (std::find(answered.begin(), answered.end(), iid) != answered.end() || IsEqualIID(*iid, *c.iid)) continue;
      void *answer = reinterpret_cast<void *>(1);
      EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*iid, &answer)) << guidText(*iid);
      EXPECT_EQ(nullptr, answer);
    }
    // IDispatch is served by the main interface.
    Ref<IUnknown> dispatch, main;
    object->QueryInterface(IID_IDispatch, dispatch.putVoid());
    object->QueryInterface(*c.iid, main.putVoid());
    EXPECT_EQ(dispatch.p, main.p);

    Ref<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_ISupportErrorInfo, support.putVoid()));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(*c.iid));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(c.collection ? IID_IPerfObject : IID_IPerfObjects));

    // The type code, and no ID on collections.
    Ref<IPerfCommon> common;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IPerfCommon, common.putVoid()));
    LONG type = 0, id = 0;
    common->get_ItemType(&type);
    EXPECT_EQ(c.itemType, type);
    EXPECT_EQ(c.collection ? E_NOTIMPL : S_OK, common->put_ID(42));
    EXPECT_EQ(c.collection ? E_NOTIMPL : S_OK, common->get_ID(&id));
    EXPECT_EQ(c.collection ? 0 : 42, id);

    // The common interface and the error-information support keep the
    // object alive on their own, reach the same object whichever way they
    // are asked for, and let it go with their last reference.
    Ref<IPerfCommon> again;
    ASSERT_EQ(S_OK, support->QueryInterface(IID_IPerfCommon, again.putVoid()));
    object.reset();
    common.reset();
    dispatch.reset();
    main.reset();
    Ref<IDispatch> mainAgain;
    ASSERT_EQ(S_OK, again->QueryInterface(*c.iid, mainAgain.putVoid()));
    mainAgain.reset();
    VARIANT blob;
    VariantInit(&blob);
    EXPECT_EQ(S_OK, again->get_MyBlob(btAsBinaryArray, &blob));
    EXPECT_EQ(S_OK, again->put_MyBlob(btAsBinaryArray, blob));
    VariantClear(&blob);
    if (!c.collection) {
      EXPECT_EQ(S_OK, again->get_ID(&id));
      EXPECT_EQ(42, id);
    }
    support.reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    again.reset();
    EXPECT_EQ(S_OK, canUnloadNow());
  }
  EXPECT_EQ(S_OK, canUnloadNow());
}

// An outer object that aggregates one inner object and counts its own references.
struct Outer : public IUnknown {
  LONG references = 1;
  IUnknown *inner = nullptr;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    if (!IsEqualIID(riid, IID_IUnknown)) return inner->QueryInterface(riid, object);
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

// Every class aggregates. The node keeps its outer unknown apart from its own
// allocation, so each class is made, used through a blob round trip (which
// walks its children through their interfaces) and let go.
TEST_F(Server, EveryClassAggregates) {
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    Outer outer;
    ASSERT_EQ(S_OK, CoCreateInstance(*c.clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void **>(&outer.inner)));
    EXPECT_EQ(1, outer.references);

    // The inner object's interfaces count on the outer object and lead back to it.
    IUnknown *main = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(*c.iid, reinterpret_cast<void **>(&main)));
    EXPECT_EQ(2, outer.references);
    IUnknown *identity = nullptr;
    ASSERT_EQ(S_OK, main->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)));
    EXPECT_EQ(static_cast<IUnknown *>(&outer), identity);
    identity->Release();
    main->Release();
    EXPECT_EQ(1, outer.references);

    IPerfCommon *common = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IPerfCommon, reinterpret_cast<void **>(&common)));
    VARIANT blob;
    VariantInit(&blob);
    EXPECT_EQ(S_OK, common->get_MyBlob(btAsBinaryArray, &blob));
    EXPECT_EQ(S_OK, common->put_MyBlob(btAsBinaryArray, blob));
    VariantClear(&blob);
    common->Release();
    EXPECT_EQ(1, outer.references);

    EXPECT_EQ(S_FALSE, canUnloadNow());
    outer.inner->Release();
    EXPECT_EQ(S_OK, canUnloadNow());
  }
}

// An enumerator is code of the module: while a client holds one, even of an
// empty collection whose objects are all gone, the module stays loaded, and
// so does it for the enumerator's clone.
TEST_F(Server, AnEnumeratorHoldsTheModule) {
  Ref<IPerfCounters> counters;
  create(CLSID_PerfCounters, IID_IPerfCounters, counters);
  Ref<IUnknown> enumerator;
  ASSERT_EQ(S_OK, counters->get__NewEnum(enumerator.put()));
  counters.reset();
  EXPECT_EQ(S_FALSE, canUnloadNow());

  Ref<IEnumVARIANT> items, clone;
  ASSERT_EQ(S_OK, enumerator->QueryInterface(IID_IEnumVARIANT, items.putVoid()));
  enumerator.reset();
  ASSERT_EQ(S_OK, items->Clone(clone.put()));
  items.reset();
  EXPECT_EQ(S_FALSE, canUnloadNow());
  VARIANT item;
  VariantInit(&item);
  ULONG fetched = 1;
  EXPECT_EQ(S_FALSE, clone->Next(1, &item, &fetched));
  EXPECT_EQ(0u, fetched);
  clone.reset();
  EXPECT_EQ(S_OK, canUnloadNow());
}

// Names are matched without regard to case (the scripts' own spelling is
// the JScript suites' business); the internal interfaces are not in the
// library, so their dispatch fails.
TEST_F(Server, DispatchThroughTheRegisteredTypeLibrary) {
  Ref<IDispatch> manager;
  create(CLSID_PerfMgr, IID_IDispatch, manager);
  UINT count = 0;
  EXPECT_EQ(S_OK, manager->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  Ref<ITypeInfo> info;
  EXPECT_EQ(S_OK, manager->GetTypeInfo(0, 0x409, info.put()));
  Text name = wide("perfobjects"), unknownName = wide("NoSuchMember");
  LPOLESTR names[] = {name.data()}, unknownNames[] = {unknownName.data()};
  DISPID id = 0;
  ASSERT_EQ(S_OK, manager->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id));
  EXPECT_EQ(5, id);
  EXPECT_EQ(DISP_E_UNKNOWNNAME, manager->GetIDsOfNames(IID_NULL, unknownNames, 1, 0x409, &id));
  Ref<IPerfTransfer> transfer;
  ASSERT_EQ(S_OK, manager->QueryInterface(IID_IPerfTransfer, transfer.putVoid()));
  EXPECT_TRUE(FAILED(transfer->GetTypeInfo(0, 0x409, info.put())));
  EXPECT_TRUE(FAILED(transfer->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id)));
}

}  // namespace

// Eight threads create, use and release objects of every class and take and
// give back server locks while a ninth keeps asking whether the module can be
// unloaded. Each worker publishes a token while it holds something: when the
// same token is published before and after an answer, the hold spanned the
// whole call and the answer must be "no". Once every worker is done, "yes".
TEST_F(Server, UnloadAnswerFollowsObjectsAndLocksAcrossThreads) {
  constexpr int Workers = 8;
  std::atomic<unsigned> holding[Workers] = {};
  std::atomic<bool> done{false};
  std::atomic<int> failures{0}, spannedHolds{0}, wrongAnswers{0};

  auto worker = [&](int index) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    unsigned token = static_cast<unsigned>(index) << 24;
    for (int round = 0; round < 150; ++round) {
      const ClassInfo &c = classes[static_cast<size_t>(round + index) % 7];
      const bool locking = round % 3 == 0;
      Ref<IClassFactory> factory;
      Ref<IPerfCommon> object;
      LONG type = 0;
      if (FAILED(classObject(*c.clsid, factory.put()))) {
        ++failures;
        continue;
      }
      if (locking) factory->LockServer(TRUE);
      if (FAILED(factory->CreateInstance(nullptr, IID_IPerfCommon, object.putVoid()))) ++failures;
      factory.reset();
      holding[index].store(++token);
      std::this_thread::yield();
      if (object.p == nullptr || FAILED(object->get_ItemType(&type)) || type != c.itemType) ++failures;
      holding[index].store(0);
      object.reset();
      if (locking && SUCCEEDED(classObject(*c.clsid, factory.put()))) {
        holding[index].store(++token);
        factory->LockServer(FALSE);
        holding[index].store(0);
      }
    }
    CoUninitialize();
  };

  std::thread poller([&] {
    while (!done.load()) {
      unsigned before[Workers];
      for (int i = 0; i < Workers; ++i) before[i] = holding[i].load();
      const HRESULT answer = canUnloadNow();
      for (int i = 0; i < Workers; ++i)
        if (before[i] != 0 && holding[i].load() == before[i]) ++spannedHolds, wrongAnswers += answer != S_FALSE;
    }
  });
  std::vector<std::thread> workers;
  for (int i = 0; i < Workers; ++i) workers.emplace_back(worker, i);
  for (std::thread &thread : workers) thread.join();
  done.store(true);
  poller.join();

  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(0, wrongAnswers.load()) << "the module said it could be unloaded while an object or a lock was held";
  EXPECT_GT(spannedHolds.load(), 0) << "the poller never caught a hold";
  EXPECT_EQ(S_OK, canUnloadNow());
}

namespace {

const char RegisteringInstructions[] = "RV_REGISTERING_PROCESS";
using RegistrationEntry = HRESULT(STDAPICALLTYPE *)();

// A call that lost a race with the other process: a key it was filling was
// deleted under it, as the Windows registry answers too; the system's type
// library registration says so with TYPE_E_REGISTRYACCESS, Wine's with
// E_FAIL. Any other failure counts.
bool lostRace(HRESULT hr) {
#ifdef _WIN32
  if (hr == E_FAIL) return true;
#endif
  return hr == HRESULT_FROM_WIN32(ERROR_KEY_DELETED) || hr == TYPE_E_REGISTRYACCESS;
}

// Registers the module 40 times and unregisters it every other time, as a
// setup program would. Counts the calls that failed other than by losing a
// race and the reads of the server key that were neither absent nor whole.
int registerInTurns(RegistrationEntry reg, RegistrationEntry unreg, const std::string &module) {
  int wrong = 0;
  const std::string server = "CLSID\\" + guidText(CLSID_PerfMgr) + "\\InprocServer32";
  for (int n = 0; n < 40; ++n) {
    if (const HRESULT hr = reg(); FAILED(hr) && !lostRace(hr)) ++wrong;
    // A key made but not yet given its value is a registration under way.
    const std::string seen = regText(server);
    if (seen != "<missing>" && seen != "<no value>" && seen != module) ++wrong;
    if (n % 2 == 1)
      if (const HRESULT hr = unreg(); FAILED(hr) && !lostRace(hr)) ++wrong;
  }
  return wrong;
}

}  // namespace

// Two processes register and unregister the module at the same time: every
// read sees the server key whole or not at all, and once both are done the
// registration stands complete.
TEST_F(Server, TwoProcessesRegisteringAtOnceLeaveAWholeRegistration) {
  ChildProcess other;
  ASSERT_TRUE(other.start("RegisteringProcess.DISABLED_InTurns", RegisteringInstructions, "1"));
  EXPECT_EQ(0, registerInTurns(entry("DllRegisterServer"), entry("DllUnregisterServer"), modulePath()));
  EXPECT_EQ(0, other.finish()) << "the other process saw a torn key or a failing call";

  ASSERT_EQ(S_OK, entry("DllRegisterServer")());
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(modulePath(), regText("CLSID\\" + guidText(*c.clsid) + "\\InprocServer32"));
    EXPECT_EQ(5u, subkeyCount("CLSID\\" + guidText(*c.clsid)));
  }
}

// Run only as the other process of the test above.
TEST(RegisteringProcess, DISABLED_InTurns) {
  ASSERT_NE(nullptr, std::getenv(RegisteringInstructions));
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE module = LoadLibraryA(COMPONENT_MODULE);
  ASSERT_NE(nullptr, module);
  auto entryOf = [module](const char *name) {
    return reinterpret_cast<RegistrationEntry>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  };
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  EXPECT_EQ(0, registerInTurns(entryOf("DllRegisterServer"), entryOf("DllUnregisterServer"), path));
  FreeLibrary(module);
  CoUninitialize();
}
