// Activation of an in-process server module registered under
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32, and its unloading.
#include "ChildProcess.h"
#include "ComTestSupport.h"
#include "test_server/TestServer.h"

namespace {

// Creates the test server's object and answers its serial number, or 0.
LONG createdSerial(Com<ISerialNumber> &object) {
  EXPECT_EQ(
      CoCreateInstance(CLSID_TestServerObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISerialNumber, object.outVoid()),
      S_OK);
  return object ? object->SerialNumber() : 0;
}

// The module stays loaded while an object of it lives or its class object
// is locked; unused, CoFreeUnusedLibraries unloads it at once in a
// single-threaded apartment, and the next activation loads it afresh.
TEST(InprocServer, ModuleIsLoadedForActivationAndUnloadedWhenUnused) {
  RegisteredServer registration(CLSID_TestServerObject, windowsPath(TEST_SERVER_PATH), OLESTR("Apartment"));
  ASSERT_TRUE(registration.written());
  onNewThread([] {
    Apartment apartment(COINIT_APARTMENTTHREADED);
    Com<ISerialNumber> first, second;
    EXPECT_EQ(createdSerial(first), 1);
    CoFreeUnusedLibraries();
    EXPECT_EQ(createdSerial(second), 2);
    first.reset();
    second.reset();
    Com<IClassFactory> factory;
    ASSERT_EQ(
        CoGetClassObject(CLSID_TestServerObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.outVoid()),
        S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_EQ(createdSerial(first), 3);
    first.reset();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(createdSerial(first), 1);
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
    Com<ISerialNumber> object;
    auto create = [&] {
      return CoCreateInstance(CLSID_TestServerObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISerialNumber,
                              object.outVoid());
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
    ClassesKey registration(classKeyPath(CLSID_TestServerObject), nullptr);
  }
}

// A registration that does not lead to a working module: the results are
// those of Windows' COM under Wine 8 (see the platform's activation notes).
// Over the platform layer the module path may also be written the POSIX way.
TEST(InprocServer, BrokenRegistrationsAndPosixPaths) {
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
  ClassesKey key(classKeyPath(kTestClass), OLESTR("Broken class"));
  EXPECT_EQ(create(CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);
  ClassesKey serverKey(classKeyPath(kTestClass) + OLESTR("\\InprocServer32"), nullptr);
  EXPECT_EQ(create(CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);
  const struct {
    WideString path;
    HRESULT inproc;
    DWORD wider;  // a wider context, which finds no class instead
  } cases[] = {
      {WideString(), E_ACCESSDENIED, CLSCTX_ALL},
      {windowsPath(TEST_SERVER_PATH) + OLESTR(".missing"), E_ACCESSDENIED, CLSCTX_ALL},
      {windowsPath(TEST_NOENTRY_PATH), CO_E_DLLNOTFOUND, CLSCTX_ALL},  // no in-process server
      // A server that does not serve the class it is registered for.
      {windowsPath(TEST_SERVER_PATH), CLASS_E_CLASSNOTAVAILABLE, CLSCTX_INPROC},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(narrow(c.path));
    ASSERT_TRUE(serverKey.set(nullptr, c.path.c_str()));
    EXPECT_EQ(create(CLSCTX_INPROC_SERVER), c.inproc);
    EXPECT_EQ(create(c.wider), REGDB_E_CLASSNOTREG);
  }
  CoFreeUnusedLibrariesEx(0, 0);
#ifndef _WIN32
  RegisteredServer registration(CLSID_TestServerObject, widen(TEST_SERVER_PATH), OLESTR("Apartment"));
  Com<ISerialNumber> object;
  EXPECT_EQ(createdSerial(object), 1);
#endif
}

}  // namespace
