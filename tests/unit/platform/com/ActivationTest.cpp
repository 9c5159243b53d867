// Class objects registered by running code, and activation through them.
#include <future>

#include "ComTestSupport.h"

namespace {

// The way the component's logging reaches an outside component: created for
// IUnknown in any context, put into its running state, then asked for the
// interface it needs.
TEST(Activation, RegisteredClassIsCreatedRunAndQueried) {
  Apartment apartment(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  TestClassFactory factory;
  RegisteredFactory registration(kTestClass, &factory);
  ASSERT_EQ(registration.result(), S_OK);
  EXPECT_NE(registration.cookie(), 0u);
  EXPECT_EQ(factory.references(), 2u);

  Com<IUnknown> object;
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.outVoid()), S_OK);
  ASSERT_EQ(OleRun(object.get()), S_OK);
  auto *created = static_cast<TestObject *>(static_cast<IRunnableObject *>(object.get()));
  EXPECT_EQ(created->runs, 1);
  EXPECT_EQ(created->runContext, nullptr);
  Com<ISupportErrorInfo> second;
  EXPECT_EQ(object->QueryInterface(IID_ISupportErrorInfo, second.outVoid()), S_OK);

  // Contexts with in-process servers reach it; the others, or none, do not.
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_SERVER, IID_IUnknown, object.outVoid()), S_OK);
  IUnknown *none = reinterpret_cast<IUnknown *>(1);
  for (DWORD context : {DWORD(CLSCTX_LOCAL_SERVER), DWORD(CLSCTX_INPROC_HANDLER)})
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, context, IID_IUnknown, reinterpret_cast<void **>(&none)),
              REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, 0, IID_IUnknown, reinterpret_cast<void **>(&none)), E_UNEXPECTED);
  EXPECT_EQ(none, nullptr);
  // What the factory answers reaches the caller.
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void **>(&none)),
            E_NOINTERFACE);
  EXPECT_EQ(factory.made, 3);
  Com<IClassFactory> classObject;
  ASSERT_EQ(CoGetClassObject(kTestClass, CLSCTX_ALL, nullptr, IID_IClassFactory, classObject.outVoid()), S_OK);
  EXPECT_EQ(classObject.get(), &factory);
  classObject.reset();

  // Revoked, the class is unknown again and the factory released.
  const DWORD cookie = registration.cookie();
  EXPECT_EQ(registration.revoke(), S_OK);
  EXPECT_EQ(factory.references(), 1u);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void **>(&none)),
            REGDB_E_CLASSNOTREG);

  // OleRun needs no apartment; an object with no running state to enter is
  // running already.
  onNewThread([] {
    auto *runnable = new TestObject;
    runnable->runResult = 0x80041234;
    EXPECT_EQ(OleRun(static_cast<IRunnableObject *>(runnable)), HRESULT(0x80041234));
    EXPECT_EQ(runnable->runs, 1);
    runnable->Release();
    TestClassFactory plain;
    EXPECT_EQ(OleRun(&plain), S_OK);
    EXPECT_EQ(plain.references(), 1u);
  });
}

TEST(Activation, RegistrationRules) {
  Apartment apartment(COINIT_MULTITHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  TestClassFactory first, second;
  DWORD cookie = 7;
  EXPECT_EQ(CoRegisterClassObject(kTestClass, &first, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, nullptr), E_INVALIDARG);
  EXPECT_EQ(CoRegisterClassObject(kTestClass, nullptr, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
            E_INVALIDARG);
  RegisteredFactory registration(kTestClass, &first);
  ASSERT_EQ(registration.result(), S_OK);

  // A second registration of the class: accepted but not recorded for
  // multiple use, refused otherwise; the first one keeps serving.
  EXPECT_EQ(CoRegisterClassObject(kTestClass, &second, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  EXPECT_EQ(cookie, 0u);
  cookie = 7;
  EXPECT_EQ(CoRegisterClassObject(kTestClass, &second, CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE, &cookie), CO_E_OBJISREG);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(second.references(), 1u);
  Com<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.outVoid()), S_OK);
  EXPECT_EQ(first.made, 1);
  EXPECT_EQ(second.made, 0);
  EXPECT_EQ(registration.revoke(), S_OK);

  // A local server registered for multiple use also serves in process; for
  // separate multiple use it does not.
  for (DWORD flags : {DWORD(REGCLS_MULTIPLEUSE), DWORD(REGCLS_MULTI_SEPARATE)}) {
    RegisteredFactory local(kTestClass, &first, CLSCTX_LOCAL_SERVER, flags);
    ASSERT_EQ(local.result(), S_OK);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.outVoid()),
              flags == REGCLS_MULTIPLEUSE ? S_OK : REGDB_E_CLASSNOTREG);
    EXPECT_EQ(local.revoke(), S_OK);
  }
  EXPECT_EQ(first.references(), 1u);
}

// A registration belongs to its apartment: other apartments do not see it
// and may not revoke it, and it ends with the apartment.
TEST(Activation, RegistrationsBelongToTheirApartment) {
  TestClassFactory factory;
  for (DWORD mode : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
    std::promise<DWORD> registered;
    std::promise<void> checked;
    std::thread owner([&] {
      Apartment apartment(mode);
      DWORD cookie = 0;
      EXPECT_EQ(CoRegisterClassObject(kTestClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
      Com<IUnknown> object;
      EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.outVoid()), S_OK);
      registered.set_value(cookie);
      checked.get_future().wait();
    });
    DWORD cookie = registered.get_future().get();
    // Another single-threaded apartment does not see it; threads of the
    // multithreaded apartment share its registrations.
    for (DWORD other : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
      onNewThread([&] {
        Apartment apartment(other);
        Com<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.outVoid()),
                  mode == COINIT_MULTITHREADED && other == mode ? S_OK : REGDB_E_CLASSNOTREG);
        if (other == COINIT_APARTMENTTHREADED) {
          EXPECT_EQ(CoRevokeClassObject(cookie), RPC_E_WRONG_THREAD);
        }
      });
    }
    EXPECT_EQ(factory.references(), 2u);
    checked.set_value();
    owner.join();
    // The owner uninitialised without revoking: the apartment released it.
    EXPECT_EQ(factory.references(), 1u) << "mode " << mode;
  }
  EXPECT_EQ(factory.made, 3);
}

}  // namespace
