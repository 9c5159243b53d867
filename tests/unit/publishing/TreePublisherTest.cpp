// rvTreePublisher.TreePublisher as a host's script reaches it: registered
// beside the component and created by ProgID, it publishes a manager's tree
// where readers of performance data find it, fixes its device with the first
// tree, and refuses what it cannot publish with error information. (Scripts
// reach it by name in the JScript suite.)
#include "ComponentFixture.h"
#include "PublishedTree.h"
#include "Trees.h"
#include "rvTreePublisher.h"

#include <vector>

namespace {

using namespace trees;

// What readers find for a device: S_OK with the bytes, S_FALSE when nothing
// is published.
struct Published {
  HRESULT hr;
  Bytes bytes;
};

Published readTree(const std::string &device) {
  Published found;
  found.hr = rv::publishing::readPublishedTree(wide(device).c_str(), found.bytes);
  return found;
}

class Publisher : public ComponentFixture {
 protected:
  static void SetUpTestSuite() {
    ComponentFixture::SetUpTestSuite();
    publisherModule_ = LoadLibraryA(PUBLISHER_MODULE);
    ASSERT_NE(nullptr, publisherModule_);
    ASSERT_EQ(S_OK, publisherEntry("DllRegisterServer")());
  }

  static void TearDownTestSuite() {
    publisherEntry("DllUnregisterServer")();
    FreeLibrary(publisherModule_);
    ComponentFixture::TearDownTestSuite();
  }

  static Entry publisherEntry(const char *name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(publisherModule_, name)));
  }

  // A device name of this process, so that runs side by side never meet.
  static std::string device(const std::string &name) {
    return "rvPublisherTest." + name + "." + std::to_string(GetCurrentProcessId());
  }

  // A manager of `deviceName` (an empty name leaves it without one) holding
  // the sample tree; the device name comes in through a blob.
  static void makeManager(const std::string &deviceName, Ref<IPerfMgr> &manager) {
    create(CLSID_PerfMgr, IID_IPerfMgr, manager);
    if (!deviceName.empty()) {
      ASSERT_EQ(S_OK, putBlob(manager.p, managerBlob(1, deviceName)));
    }
    buildSample(manager.p);
  }

  static void makePublisher(Ref<ITreePublisher> &publisher, const char *progId = "rvTreePublisher.TreePublisher") {
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(wide(progId).c_str(), &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITreePublisher, publisher.putVoid()));
  }

  static std::string deviceOf(ITreePublisher *publisher) {
    return readText([&](BSTR *t) { return publisher->get_DeviceName(t); });
  }

  static LONG generationOf(ITreePublisher *publisher) {
    LONG generation = -1;
    EXPECT_EQ(S_OK, publisher->get_Generation(&generation));
    return generation;
  }

  static HMODULE publisherModule_;
};

HMODULE Publisher::publisherModule_ = nullptr;

TEST_F(Publisher, PublishesTheManagersTreeWhereReadersFindIt) {
  const std::string name = device("Tree");
  Ref<IPerfMgr> manager;
  makeManager(name, manager);
  Ref<ITreePublisher> publisher;
  makePublisher(publisher);
  EXPECT_EQ("", deviceOf(publisher.p));
  EXPECT_EQ(0, generationOf(publisher.p));
  EXPECT_EQ(S_FALSE, readTree(name).hr);

  ASSERT_EQ(S_OK, publisher->Publish(manager.p));
  EXPECT_EQ(name, deviceOf(publisher.p));
  EXPECT_EQ(1, generationOf(publisher.p));
  const Bytes first = blobOf(manager.p);
  Published found = readTree(name);
  EXPECT_EQ(S_OK, found.hr);
  EXPECT_EQ(first, found.bytes);

  // A later tree replaces the first one for readers.
  addObject(objectsOf(manager.p), 20, "Later", false, false);
  ASSERT_EQ(S_OK, publisher->Publish(manager.p));
  EXPECT_EQ(2, generationOf(publisher.p));
  found = readTree(name);
  EXPECT_NE(first, found.bytes);
  EXPECT_EQ(blobOf(manager.p), found.bytes);

  // Withdrawn, readers find nothing; the device stays the publisher's.
  EXPECT_EQ(S_OK, publisher->Withdraw());
  EXPECT_EQ(S_FALSE, readTree(name).hr);
  EXPECT_EQ(0, generationOf(publisher.p));
  EXPECT_EQ(name, deviceOf(publisher.p));
}

TEST_F(Publisher, RefusesWhatItCannotPublishWithErrorInformation) {
  const std::string name = device("Refusals");
  Ref<IPerfMgr> manager, otherDevice, noDevice;
  makeManager(name, manager);
  makeManager(device("Other"), otherDevice);
  makeManager("", noDevice);
  Ref<IPerfCounter> counter;
  create(CLSID_PerfCounter, IID_IPerfCounter, counter);
  Ref<ITreePublisher> publisher;
  makePublisher(publisher);
  ASSERT_EQ(S_OK, publisher->Publish(manager.p));
  const Bytes published = blobOf(manager.p);

  struct Case {
    const char *what;
    IDispatch *argument;
    HRESULT code;
    std::vector<std::string> described;
  } cases[] = {
      {"another device", otherDevice.p, E_INVALIDARG, {name, device("Other")}},
      {"no manager", counter.p, E_INVALIDARG, {"PerfMgr", "not one"}},
      {"nothing", nullptr, E_POINTER, {"PerfMgr", "none was given"}},
      {"a manager without device", noDevice.p, E_INVALIDARG, {"DeviceName"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.code, publisher->Publish(c.argument));
    const ErrorSeen error = takeError();
    ASSERT_TRUE(error.present);
    EXPECT_TRUE(IsEqualGUID(IID_ITreePublisher, error.guid));
    EXPECT_EQ("rvTreePublisher.TreePublisher", error.source);
    for (const std::string &part : c.described)
      EXPECT_NE(std::string::npos, error.description.find(part)) << error.description;
  }
  // Nothing that was refused touched the published tree.
  EXPECT_EQ(1, generationOf(publisher.p));
  EXPECT_EQ(published, readTree(name).bytes);

  // A second publisher finds the device's sections taken: the section call's
  // code, described with the device, and no device fixed.
  Ref<ITreePublisher> second;
  makePublisher(second, "rvTreePublisher.TreePublisher.1");
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), second->Publish(manager.p));
  EXPECT_NE(std::string::npos, takeError().description.find(name));
  EXPECT_EQ("", deviceOf(second.p));
  EXPECT_EQ(published, readTree(name).bytes);
}

// Runs last: it takes the registration away and puts it back.
// The class object is the module's: a client's reference and a server lock
// hold the module, as an object does; it knows only its own class and makes
// no object for an outer one, whatever interface is asked for.
TEST_F(Publisher, ClassObjectHoldsTheModuleAndRefusesAggregation) {
  using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
  const auto get =
      reinterpret_cast<GetClassObject>(reinterpret_cast<void *>(GetProcAddress(publisherModule_, "DllGetClassObject")));
  const Entry canUnloadNow = publisherEntry("DllCanUnloadNow");
  ASSERT_EQ(S_OK, canUnloadNow());
  Ref<IClassFactory> factory;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(CLSID_PerfMgr, IID_IClassFactory, factory.putVoid()));
  EXPECT_EQ(nullptr, factory.p);
  ASSERT_EQ(S_OK, get(CLSID_TreePublisher, IID_IClassFactory, factory.putVoid()));
  EXPECT_EQ(S_FALSE, canUnloadNow());

  Ref<ITreePublisher> inner;
  for (const IID *iid : {&IID_IUnknown, &IID_ITreePublisher})
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.p, *iid, inner.putVoid()));
  EXPECT_EQ(nullptr, inner.p);
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_ITreePublisher, inner.putVoid()));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  factory.reset();
  inner.reset();
  EXPECT_EQ(S_FALSE, canUnloadNow());
  ASSERT_EQ(S_OK, get(CLSID_TreePublisher, IID_IClassFactory, factory.putVoid()));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory.reset();
  EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(Publisher, RegistrationWritesTheClassAndBothProgIdsAndRemovesThem) {
  CLSID clsid;
  for (const OLECHAR *progId : {OLESTR("rvTreePublisher.TreePublisher"), OLESTR("rvTreePublisher.TreePublisher.1")}) {
    ASSERT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TreePublisher, clsid));
  }
  OLECHAR clsidText[40];
  StringFromGUID2(CLSID_TreePublisher, clsidText, 40);
  const Text server = OLESTR("CLSID\\") + Text(clsidText) + OLESTR("\\InprocServer32");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, KEY_READ, &key));
  OLECHAR model[16] = {};
  DWORD size = sizeof model;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExW(key, OLESTR("ThreadingModel"), nullptr, nullptr, reinterpret_cast<BYTE *>(model), &size));
  RegCloseKey(key);
  EXPECT_EQ("Both", narrow(model));
  Ref<ITypeLib> library;
  EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_rvTreePublisher, 1, 0, 0, library.put()));
  library.reset();

  ASSERT_EQ(S_OK, publisherEntry("DllUnregisterServer")());
  for (const OLECHAR *progId : {OLESTR("rvTreePublisher.TreePublisher"), OLESTR("rvTreePublisher.TreePublisher.1")})
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(progId, &clsid));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, KEY_READ, &key));
  EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_rvTreePublisher, 1, 0, 0, library.put())));
  ASSERT_EQ(S_OK, publisherEntry("DllRegisterServer")());
}

}  // namespace
