// Activation of an in-process server module registered under
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32, and its unloading.
#include "ChildProcess.h"
#include "ComTestSupport.h"
#include "test_server/TestServer.h"

namespace {

// Creates the test server's object and answers its serial number, or 0.
LONG createdSerial(Ref<ISerialNumber> &object) {
  HRESULT hr = CoCreateInstance(CLSID_TestServerObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISerialNumber, object.out());
  EXPECT_EQ(hr, S_OK);
  return object.get() != nullptr ? object->SerialNumber() : 0;
}

TEST(InprocServer, ModuleIsLoadedForActivationAndUnloadedWhenUnused) {
  RegisteredServer registration(CLSID_TestServerObject, windowsPath(TEST_SERVER_PATH), OLESTR("Apartment"));
  ASSERT_TRUE(registration.written());
  onNewThread([] {
    Apartment apartment(COINIT_APARTMENTTHREADED);
    Ref<ISerialNumber> first, second;
    EXPECT_EQ(createdSerial(first), 1);
    Ref<IUnknown> any;
    EXPECT_EQ(CoCreateInstance(CLSID_TestServerObject, nullptr, CLSCTX_ALL, IID_IUnknown, any.out()), S_OK);
    EXPECT_EQ(OleRun(any.get()), S_OK);
    any.reset();
    // The module stays loaded while an object of it is alive.
    CoFreeUnusedLibraries();
    EXPECT_EQ(createdSerial(second), 3);
    first.reset();
    second.reset();
    // ... or while its class object is locked.
    Ref<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestServerObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out()),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_EQ(createdSerial(first), 4);
    first.reset();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    // Unused, it is unloaded at once in a single-threaded apartment, and the
    // next activation loads it afresh.
    CoFreeUnusedLibraries();
    EXPECT_EQ(createdSerial(first), 1);
    first.reset();
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(createdSerial(first), 1);
  });
}

// Modules whose objects any thread may call, and every module in the
// multithreaded apartment, are unloaded only some time after they first
// said they could be, unless the caller asks for no delay.
TEST(InprocServer, MultithreadedModulesAreUnloadedAfterADelay) {
  RegisteredServer registration(CLSID_TestServerObject, windowsPath(TEST_SERVER_PATH), OLESTR("Both"));
  for (DWORD mode : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
    onNewThread([mode] {
      Apartment apartment(mode);
      Ref<ISerialNumber> object;
      EXPECT_EQ(createdSerial(object), 1);
      object.reset();
      CoFreeUnusedLibraries();
      EXPECT_EQ(createdSerial(object), 2) << "mode " << mode;
      object.reset();
      CoFreeUnusedLibrariesEx(0, 0);
      EXPECT_EQ(createdSerial(object), 1) << "mode " << mode;
      object.reset();
      // The end of the apartment unloads what is no longer used.
    });
  }
}

// The end of an apartment unloads its unused modules; a module is unloaded
// only by the apartments that use it.
TEST(InprocServer, ApartmentsUnloadOnlyTheirOwnModules) {
  RegisteredServer registration(CLSID_TestServerObject, windowsPath(TEST_SERVER_PATH), OLESTR("Apartment"));
  onNewThread([] {
    Apartment apartment(COINIT_APARTMENTTHREADED);
    Ref<ISerialNumber> object;
    EXPECT_EQ(createdSerial(object), 1);
    object.reset();
    onNewThread([] {
      Apartment other(COINIT_APARTMENTTHREADED);
      CoFreeUnusedLibrariesEx(0, 0);
    });
    EXPECT_EQ(createdSerial(object), 2);
  });
  onNewThread([] {
    Apartment apartment(COINIT_APARTMENTTHREADED);
    Ref<ISerialNumber> object;
    EXPECT_EQ(createdSerial(object), 1);
  });
}

// What the second process of the test below does: "register" or "remove".
constexpr const char *RegistrationVariable = "COM_TEST_REGISTRATION";

// A class that another process registers, or removes, between two requests
// of this one: each request finds the registry as it stands at that moment,
// however often the class was asked for while it was missing.
TEST(InprocServer, RegistrationsOfAnotherProcessCountAtOnce) {
  onNewThread([] {
    Apartment apartment(COINIT_APARTMENTTHREADED);
    Ref<ISerialNumber> object;
    auto create = [&] {
      return CoCreateInstance(CLSID_TestServerObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISerialNumber, object.out());
    };
    for (int request = 0; request < 3; ++request) EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(0, ChildProcess::run("InprocServerProcess.DISABLED_Registration", RegistrationVariable, "register"));
    EXPECT_EQ(create(), S_OK);
    object.reset();
    ASSERT_EQ(0, ChildProcess::run("InprocServerProcess.DISABLED_Registration", RegistrationVariable, "remove"));
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);
  });
}

// Run only as the second process of the test above.
TEST(InprocServerProcess, DISABLED_Registration) {
  const char *what = std::getenv(RegistrationVariable);
  ASSERT_NE(nullptr, what);
  if (std::string(what) == "register") {
    RegisteredServer registration(CLSID_TestServerObject, windowsPath(TEST_SERVER_PATH), OLESTR("Apartment"));
    ASSERT_TRUE(registration.written());
    registration.keep();
  } else {
    ClassesKey registration(classKey(CLSID_TestServerObject), nullptr);
  }
}

#ifndef _WIN32
// Over the platform layer the module path may also be written the POSIX way.
TEST(InprocServer, PosixModulePath) {
  RegisteredServer registration(CLSID_TestServerObject, ole(TEST_SERVER_PATH), OLESTR("Apartment"));
  onNewThread([] {
    Apartment apartment(COINIT_APARTMENTTHREADED);
    Ref<ISerialNumber> object;
    EXPECT_EQ(createdSerial(object), 1);
  });
}
#endif

// A registration that does not lead to a working module: the results are
// those of Windows' COM under Wine 8 (see the platform's activation notes).
TEST(InprocServer, BrokenRegistrations) {
  Apartment apartment(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  auto create = [](DWORD context) {
    IUnknown *object = reinterpret_cast<IUnknown *>(1);
    HRESULT hr = CoCreateInstance(kTestClass, nullptr, context, IID_IUnknown, reinterpret_cast<void **>(&object));
    EXPECT_EQ(object, nullptr);
    return hr;
  };
  EXPECT_EQ(create(CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);

  // A class key without an in-process server, or a server key without a path.
  ClassesKey key(classKey(kTestClass), OLESTR("Broken class"));
  EXPECT_EQ(create(CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);
  ClassesKey serverKey(classKey(kTestClass) + OLESTR("\\InprocServer32"), nullptr);
  EXPECT_EQ(create(CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);

  // A path that cannot be loaded.
  for (const OleString &path : {OleString(), windowsPath(TEST_SERVER_PATH) + OLESTR(".missing")}) {
    ASSERT_TRUE(serverKey.set(nullptr, path.c_str()));
    EXPECT_EQ(create(CLSCTX_INPROC_SERVER), E_ACCESSDENIED);
    EXPECT_EQ(create(CLSCTX_ALL), REGDB_E_CLASSNOTREG);
  }
  // A module that is no in-process server.
  ASSERT_TRUE(serverKey.set(nullptr, windowsPath(TEST_NOENTRY_PATH).c_str()));
  EXPECT_EQ(create(CLSCTX_INPROC_SERVER), CO_E_DLLNOTFOUND);
  EXPECT_EQ(create(CLSCTX_ALL), REGDB_E_CLASSNOTREG);
  // A server that does not serve the class it is registered for.
  ASSERT_TRUE(serverKey.set(nullptr, windowsPath(TEST_SERVER_PATH).c_str()));
  EXPECT_EQ(create(CLSCTX_INPROC_SERVER), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(create(CLSCTX_INPROC), REGDB_E_CLASSNOTREG);
  CoFreeUnusedLibrariesEx(0, 0);
}

}  // namespace
