// Apartment initialisation per thread, and what a thread may activate
// without one.
#include <future>

#include "ComTestSupport.h"

namespace {

// Whether the calling thread can activate a class (a registered one would
// do; with nothing registered the answer is "not registered").
HRESULT activationResult() {
  IUnknown *object = reinterpret_cast<IUnknown *>(1);
  HRESULT hr = CoCreateInstance(kUnknownClass, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void **>(&object));
  EXPECT_EQ(object, nullptr);
  return hr;
}

TEST(Apartment, InitialisationNestsPerThreadAndKeepsItsMode) {
  onNewThread([] {
    EXPECT_EQ(activationResult(), CO_E_NOTINITIALIZED);
    CoUninitialize();  // without an apartment: nothing happens
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    // The other mode is refused and does not count.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
    EXPECT_EQ(activationResult(), REGDB_E_CLASSNOTREG);
    for (int i = 0; i < 3; ++i) {
      CoUninitialize();
      EXPECT_EQ(activationResult(), REGDB_E_CLASSNOTREG) << "after " << i + 1 << " of 4 uninitialisations";
    }
    CoUninitialize();
    EXPECT_EQ(activationResult(), CO_E_NOTINITIALIZED);

    // The same thread may come back in the other mode.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_SPEED_OVER_MEMORY), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    EXPECT_EQ(activationResult(), REGDB_E_CLASSNOTREG);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(activationResult(), CO_E_NOTINITIALIZED);
  });
}

// The logging of the component relies on this answer: a thread that never
// initialised, in a process without a multithreaded apartment, is refused
// every activation, and the refusal happens before any class is looked for.
TEST(Apartment, UninitialisedThreadIsRefusedActivation) {
  onNewThread([] {
    IUnknown *object = reinterpret_cast<IUnknown *>(1);
    for (DWORD context : {DWORD(CLSCTX_ALL), DWORD(CLSCTX_INPROC_SERVER), DWORD(CLSCTX_SERVER)}) {
      EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, context, IID_IUnknown, reinterpret_cast<void **>(&object)),
                CO_E_NOTINITIALIZED);
      EXPECT_EQ(object, nullptr);
    }
    IClassFactory *factory = reinterpret_cast<IClassFactory *>(1);
    EXPECT_EQ(CoGetClassObject(kTestClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void **>(&factory)),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(factory, nullptr);
    TestClassFactory own;
    DWORD cookie = 5;
    EXPECT_EQ(CoRegisterClassObject(kTestClass, &own, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(own.references(), 1u);
    EXPECT_EQ(CoRevokeClassObject(1), CO_E_NOTINITIALIZED);
    // A null out pointer is still reported first.
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
  });
}

// A thread that never initialised is served by the process's multithreaded
// apartment while there is one (Windows 7 and later, and Wine 8); a
// single-threaded apartment elsewhere does not help it.
TEST(Apartment, UninitialisedThreadUsesTheMultithreadedApartmentWhileItExists) {
  TestClassFactory factory;
  for (DWORD mode : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
    std::promise<void> ready, done;
    std::thread holder([&] {
      Apartment apartment(mode);
      DWORD cookie = 0;
      EXPECT_EQ(CoRegisterClassObject(kTestClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
      ready.set_value();
      done.get_future().wait();
      EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    });
    ready.get_future().wait();
    onNewThread([&] {
      Com<IUnknown> object;
      HRESULT hr = CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.outVoid());
      if (mode == COINIT_MULTITHREADED) {
        EXPECT_EQ(hr, S_OK);
        // It may register in that apartment, too.
        TestClassFactory other;
        RegisteredFactory registration(kOtherTestClass, &other);
        EXPECT_EQ(registration.result(), S_OK);
        EXPECT_EQ(registration.revoke(), S_OK);
      } else {
        EXPECT_EQ(hr, CO_E_NOTINITIALIZED);
      }
    });
    done.set_value();
    holder.join();
  }
  EXPECT_EQ(factory.made, 1);
  EXPECT_EQ(factory.references(), 1u);
  // Once the multithreaded apartment has ended, the refusal is back.
  onNewThread([] { EXPECT_EQ(activationResult(), CO_E_NOTINITIALIZED); });
}

// A thread that ends without uninitialising leaves its apartment: what it
// registered is released, and the multithreaded apartment ends with it.
TEST(Apartment, ThreadExitEndsItsApartment) {
  TestClassFactory factory;
  for (DWORD mode : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
    onNewThread([&] {
      EXPECT_EQ(CoInitializeEx(nullptr, mode), S_OK);
      DWORD cookie = 0;
      EXPECT_EQ(CoRegisterClassObject(kTestClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
      EXPECT_EQ(factory.references(), 2u);
    });
    EXPECT_EQ(factory.references(), 1u) << "mode " << mode;
  }
  onNewThread([] { EXPECT_EQ(activationResult(), CO_E_NOTINITIALIZED); });
}

}  // namespace
