// The module as COM sees it: registration, class objects, the interface
// tables, aggregation and dispatch through the registered type library.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rvZedaZuvivurAzodav.h"

namespace {

using Text = std::basic_string<OLECHAR>;

Text wide(const std::string &text) { return Text(text.begin(), text.end()); }

std::string narrow(const OLECHAR *text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

template <typename T> struct Ptr {
  T *p = nullptr;
  Ptr() = default;
  Ptr(const Ptr &) = delete;
  ~Ptr() {
    if (p) p->Release();
  }
  T **put() { return &p; }
  void **putVoid() { return reinterpret_cast<void **>(&p); }
  T *operator->() const { return p; }
};

struct ClassInfo {
  const char *name;
  const CLSID *clsid;
  const IID *iid;
  bool collection;
};

const ClassInfo classes[] = {
    {"PerfCounter", &CLSID_PerfCounter, &IID_IPerfCounter, false},
    {"PerfObject", &CLSID_PerfObject, &IID_IPerfObject, false},
    {"PerfCounters", &CLSID_PerfCounters, &IID_IPerfCounters, true},
    {"PerfObjects", &CLSID_PerfObjects, &IID_IPerfObjects, true},
    {"PerfMgr", &CLSID_PerfMgr, &IID_IPerfMgr, false},
    {"PerfInstance", &CLSID_PerfInstance, &IID_IPerfInstance, false},
    {"PerfInstances", &CLSID_PerfInstances, &IID_IPerfInstances, true},
};

std::string guidText(const GUID &guid) {
  OLECHAR text[40];
  StringFromGUID2(guid, text, 40);
  return narrow(text);
}

// Reads a key's value; "<missing>" when the key or value is not there.
std::string regText(HKEY root, const std::string &key, const char *value = nullptr) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, wide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<missing>";
  OLECHAR data[1024] = {};
  DWORD size = sizeof data, type = 0;
  Text name = value ? wide(value) : Text();
  LONG error = RegQueryValueExW(handle, value ? name.c_str() : nullptr, nullptr, &type,
                                reinterpret_cast<BYTE *>(data), &size);
  RegCloseKey(handle);
  if (error != ERROR_SUCCESS) return value || error != ERROR_FILE_NOT_FOUND ? "<missing>" : "<no value>";
  return narrow(data);
}

bool keyExists(HKEY root, const std::string &key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, wide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

DWORD subkeyCount(HKEY root, const std::string &key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, wide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(handle);
  return count;
}

class Server : public ::testing::Test {
 protected:
  using Entry = HRESULT(STDAPICALLTYPE *)();
  using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);

  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    module = LoadLibraryA(COMPONENT_MODULE);
    ASSERT_NE(nullptr, module);
    ASSERT_EQ(S_OK, entry<Entry>("DllRegisterServer")());
  }

  static void TearDownTestSuite() {
    entry<Entry>("DllUnregisterServer")();
    FreeLibrary(module);
    CoUninitialize();
  }

  template <typename F> static F entry(const char *name) {
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  }

  static HRESULT classObject(REFCLSID clsid, IClassFactory **factory) {
    return entry<GetClassObject>("DllGetClassObject")(clsid, IID_IClassFactory, reinterpret_cast<void **>(factory));
  }

  static HRESULT canUnloadNow() { return entry<Entry>("DllCanUnloadNow")(); }

  static std::string modulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
  }

  static HMODULE module;
};

HMODULE Server::module = nullptr;

TEST_F(Server, RegistrationWritesTheKeysOfEveryClass) {
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    const std::string progId = std::string("rvZedaZuvivurAzodav_83.") + c.name;
    const std::string title = std::string(c.name) + " Class";
    const std::string clsid = guidText(*c.clsid);
    const std::string key = "CLSID\\" + clsid;
    EXPECT_EQ(title, regText(HKEY_CLASSES_ROOT, progId));
    EXPECT_EQ(clsid, regText(HKEY_CLASSES_ROOT, progId + "\\CLSID"));
    EXPECT_EQ(title, regText(HKEY_CLASSES_ROOT, key));
    EXPECT_EQ(progId, regText(HKEY_CLASSES_ROOT, key + "\\ProgID"));
    EXPECT_EQ(progId, regText(HKEY_CLASSES_ROOT, key + "\\VersionIndependentProgID"));
    EXPECT_EQ("<no value>", regText(HKEY_CLASSES_ROOT, key + "\\Programmable"));
    EXPECT_EQ(modulePath(), regText(HKEY_CLASSES_ROOT, key + "\\InprocServer32"));
    EXPECT_EQ("Both", regText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ("{507DD558-5BC4-4529-A422-CF9A372E3052}", regText(HKEY_CLASSES_ROOT, key + "\\TypeLib"));
    EXPECT_EQ(5u, subkeyCount(HKEY_CLASSES_ROOT, key));
  }
  // The type library is registered and can be found by identifier.
  ITypeLib *library = nullptr;
  ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, &library));
  library->Release();
}

TEST_F(Server, RegisteringTwiceLeavesOneSetAndUnregisteringKeepsClsid) {
  ASSERT_EQ(S_OK, entry<Entry>("DllRegisterServer")());
  for (const ClassInfo &c : classes) EXPECT_EQ(5u, subkeyCount(HKEY_CLASSES_ROOT, "CLSID\\" + guidText(*c.clsid)));

  ASSERT_EQ(S_OK, entry<Entry>("DllUnregisterServer")());
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, "CLSID\\" + guidText(*c.clsid)));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, std::string("rvZedaZuvivurAzodav_83.") + c.name));
  }
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID"));
  ITypeLib *library = nullptr;
  EXPECT_NE(S_OK, LoadRegTypeLib(LIBID_rvZedaZuvivurAzodav_83, 1, 0, 0x409, &library));
  if (library) library->Release();

  ASSERT_EQ(S_OK, entry<Entry>("DllRegisterServer")());
}

TEST_F(Server, ClassObjects) {
  Ptr<IClassFactory> factory, again;
  IClassFactory *none = reinterpret_cast<IClassFactory *>(1);
  const CLSID unknown = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, classObject(unknown, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(E_POINTER, entry<GetClassObject>("DllGetClassObject")(CLSID_PerfMgr, IID_IClassFactory, nullptr));

  EXPECT_EQ(S_OK, canUnloadNow());
  ASSERT_EQ(S_OK, classObject(CLSID_PerfCounter, factory.put()));
  ASSERT_EQ(S_OK, classObject(CLSID_PerfCounter, again.put()));
  EXPECT_EQ(factory.p, again.p);
  // A class object held by a client holds the module.
  EXPECT_EQ(S_FALSE, canUnloadNow());
  again.p->Release();
  again.p = nullptr;
  EXPECT_EQ(S_FALSE, canUnloadNow());

  IUnknown *object = reinterpret_cast<IUnknown *>(1);
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            factory->CreateInstance(reinterpret_cast<IUnknown *>(factory.p), IID_IPerfCounter,
                                    reinterpret_cast<void **>(&object)));
  EXPECT_EQ(nullptr, object);

  factory->Release();
  factory.p = nullptr;
  EXPECT_EQ(S_OK, canUnloadNow());

  // LockServer holds the module without any object.
  ASSERT_EQ(S_OK, classObject(CLSID_PerfMgr, factory.put()));
  factory->LockServer(TRUE);
  factory->Release();
  factory.p = nullptr;
  EXPECT_EQ(S_FALSE, canUnloadNow());
  ASSERT_EQ(S_OK, classObject(CLSID_PerfMgr, factory.put()));
  factory->LockServer(FALSE);
  factory->Release();
  factory.p = nullptr;
  EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(Server, EveryClassAnswersItsInterfaceTable) {
  for (const ClassInfo &c : classes) {
    SCOPED_TRACE(c.name);
    Ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, classObject(*c.clsid, factory.put()));
    Ptr<IUnknown> object;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, object.putVoid()));
    factory->Release();
    factory.p = nullptr;
    // The object holds the module while it lives.
    EXPECT_EQ(S_FALSE, canUnloadNow());

    std::vector<const IID *> answered = {&IID_IDispatch, c.iid, &IID_IPerfCommon, &IID_IPerfTransfer,
                                         &IID_ISupportErrorInfo};
    if (c.collection) answered.push_back(&IID_IPerfCollection);
    for (const IID *iid : answered) {
      Ptr<IUnknown> answer;
      EXPECT_EQ(S_OK, object->QueryInterface(*iid, answer.putVoid())) << guidText(*iid);
      // Every interface leads back to the same identity.
      Ptr<IUnknown> identity;
      ASSERT_EQ(S_OK, answer->QueryInterface(IID_IUnknown, identity.putVoid()));
      EXPECT_EQ(object.p, identity.p);
    }
    for (const IID *iid : {&IID_IPerfCounter, &IID_IPerfMgr, &IID_IPerfCollection, &IID_IClassFactory,
                           &IID_IEnumVARIANT}) {
      if (std::find(answered.begin(), answered.end(), iid) != answered.end()) continue;
      if (IsEqualIID(*iid, *c.iid)) continue;
      void *answer = reinterpret_cast<void *>(1);
      EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*iid, &answer)) << guidText(*iid);
      EXPECT_EQ(nullptr, answer);
    }
    // IDispatch is served by the main interface.
    Ptr<IUnknown> dispatch, main;
    object->QueryInterface(IID_IDispatch, dispatch.putVoid());
    object->QueryInterface(*c.iid, main.putVoid());
    EXPECT_EQ(dispatch.p, main.p);

    Ptr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_ISupportErrorInfo, support.putVoid()));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(*c.iid));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(c.collection ? IID_IPerfObject : IID_IPerfObjects));

    // The type code, and no ID on collections.
    Ptr<IPerfCommon> common;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IPerfCommon, common.putVoid()));
    LONG id = 0;
    EXPECT_EQ(c.collection ? E_NOTIMPL : S_OK, common->put_ID(42));
    EXPECT_EQ(c.collection ? E_NOTIMPL : S_OK, common->get_ID(&id));
    if (!c.collection) {
      EXPECT_EQ(42, id);
    }
  }
  EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(Server, TypeCodes) {
  const LONG codes[] = {5, 3, 4, 2, 1, 7, 6};  // in the order of `classes`
  for (size_t i = 0; i < std::size(classes); ++i) {
    Ptr<IPerfCommon> common;
    ASSERT_EQ(S_OK, CoCreateInstance(*classes[i].clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfCommon,
                                     common.putVoid()));
    LONG type = 0;
    common->get_ItemType(&type);
    EXPECT_EQ(codes[i], type) << classes[i].name;
  }
}

// An outer object that aggregates one inner object and counts its own references.
struct Outer : public IUnknown {
  LONG references = 1;
  IUnknown *inner = nullptr;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

TEST_F(Server, AggregatedCounterCollection) {
  Outer outer;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PerfCounters, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void **>(&outer.inner)));
  EXPECT_EQ(1, outer.references);

  IPerfCounters *counters = nullptr;
  ASSERT_EQ(S_OK, outer.QueryInterface(IID_IPerfCounters, reinterpret_cast<void **>(&counters)));
  // The inner object's interfaces count on the outer object.
  EXPECT_EQ(2, outer.references);
  IUnknown *identity = nullptr;
  ASSERT_EQ(S_OK, counters->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)));
  EXPECT_EQ(static_cast<IUnknown *>(&outer), identity);
  identity->Release();
  counters->Release();
  EXPECT_EQ(1, outer.references);

  IPerfCounters *direct = nullptr;
  EXPECT_EQ(S_OK, outer.inner->QueryInterface(IID_IPerfCounters, reinterpret_cast<void **>(&direct)));
  direct->Release();
  EXPECT_EQ(S_FALSE, canUnloadNow());
  outer.inner->Release();
  EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(Server, ObjectsHaveTheirChildren) {
  Ptr<IPerfMgr> manager;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PerfMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfMgr, manager.putVoid()));
  Ptr<IPerfObjects> objects, same;
  ASSERT_EQ(S_OK, manager->get_PerfObjects(objects.put()));
  ASSERT_NE(nullptr, objects.p);
  ASSERT_EQ(S_OK, manager->get_PerfObjects(same.put()));
  EXPECT_EQ(objects.p, same.p);

  Ptr<IPerfObject> object;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PerfObject, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfObject,
                                   object.putVoid()));
  Ptr<IPerfCounters> counters;
  Ptr<IPerfInstances> instances;
  ASSERT_EQ(S_OK, object->get_PerfCounters(counters.put()));
  ASSERT_EQ(S_OK, object->get_PerfInstances(instances.put()));
  EXPECT_NE(nullptr, counters.p);
  EXPECT_NE(nullptr, instances.p);

  Ptr<IPerfInstance> instance;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PerfInstance, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfInstance,
                                   instance.putVoid()));
  Ptr<IPerfCounters> live;
  ASSERT_EQ(S_OK, instance->get_PerfCounters(live.put()));
  LONG type = 0;
  Ptr<IPerfCommon> common;
  ASSERT_EQ(S_OK, live->QueryInterface(IID_IPerfCommon, common.putVoid()));
  common->get_ItemType(&type);
  EXPECT_EQ(4, type);
}

TEST_F(Server, DispatchThroughTheRegisteredTypeLibrary) {
  Ptr<IDispatch> manager;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PerfMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, manager.putVoid()));
  UINT count = 0;
  EXPECT_EQ(S_OK, manager->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  Ptr<ITypeInfo> info;
  ASSERT_EQ(S_OK, manager->GetTypeInfo(0, 0x409, info.put()));

  Text name = wide("perfobjects");
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  ASSERT_EQ(S_OK, manager->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id));
  EXPECT_EQ(5, id);

  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(S_OK, manager->Invoke(5, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
  EXPECT_EQ(VT_DISPATCH, V_VT(&result));
  VariantClear(&result);

  // ID put and get by dispatch.
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = 17;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS put = {&value, &putId, 1, 1};
  ASSERT_EQ(S_OK, manager->Invoke(1, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
  ASSERT_EQ(S_OK, manager->Invoke(1, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
  EXPECT_EQ(VT_I4, V_VT(&result));
  EXPECT_EQ(17, V_I4(&result));

  Text unknownName = wide("NoSuchMember");
  LPOLESTR unknownNames[] = {unknownName.data()};
  EXPECT_EQ(DISP_E_UNKNOWNNAME, manager->GetIDsOfNames(IID_NULL, unknownNames, 1, 0x409, &id));

  // The internal interfaces are not in the library: their dispatch fails.
  Ptr<IPerfTransfer> transfer;
  ASSERT_EQ(S_OK, manager->QueryInterface(IID_IPerfTransfer, transfer.putVoid()));
  EXPECT_EQ(S_OK, transfer->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  Ptr<ITypeInfo> none2;
  EXPECT_TRUE(FAILED(transfer->GetTypeInfo(0, 0x409, none2.put())));
  EXPECT_TRUE(FAILED(transfer->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id)));
}

}  // namespace
