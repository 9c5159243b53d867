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
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kTestClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(factory.references(), 2u);

  Ref<IUnknown> object;
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.out()), S_OK);
  ASSERT_EQ(OleRun(object.get()), S_OK);
  auto *created = static_cast<TestObject *>(static_cast<IRunnableObject *>(object.get()));
  EXPECT_EQ(created->runs, 1);
  EXPECT_EQ(created->runContext, nullptr);
  Ref<ISupportErrorInfo> second;
  EXPECT_EQ(object->QueryInterface(IID_ISupportErrorInfo, second.out()), S_OK);
  EXPECT_NE(second.get(), nullptr);

  // Contexts with in-process servers reach it; the others, or none, do not.
  Ref<IUnknown> more;
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_SERVER, IID_IUnknown, more.out()), S_OK);
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

  Ref<IClassFactory> classObject;
  ASSERT_EQ(CoGetClassObject(kTestClass, CLSCTX_ALL, nullptr, IID_IClassFactory, classObject.out()), S_OK);
  EXPECT_EQ(classObject.get(), &factory);
  classObject.reset();

  // Revoked, the class is unknown again and the factory released.
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory.references(), 1u);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void **>(&none)),
            REGDB_E_CLASSNOTREG);
}

TEST(Activation, RegistrationRules) {
  Apartment apartment(COINIT_MULTITHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  TestClassFactory first, second;
  DWORD cookie = 7;
  EXPECT_EQ(CoRegisterClassObject(kTestClass, &first, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, nullptr), E_INVALIDARG);
  EXPECT_EQ(CoRegisterClassObject(kTestClass, nullptr, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), E_INVALIDARG);
  ASSERT_EQ(CoRegisterClassObject(kTestClass, &first, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);

  // A second registration of the class: accepted but not recorded for
  // multiple use, refused otherwise; the first one keeps serving.
  DWORD again = 7;
  EXPECT_EQ(CoRegisterClassObject(kTestClass, &second, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &again), S_OK);
  EXPECT_EQ(again, 0u);
  again = 7;
  EXPECT_EQ(CoRegisterClassObject(kTestClass, &second, CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE, &again), CO_E_OBJISREG);
  EXPECT_EQ(again, 0u);
  EXPECT_EQ(second.references(), 1u);
  Ref<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.out()), S_OK);
  EXPECT_EQ(first.made, 1);
  EXPECT_EQ(second.made, 0);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);

  // A local server registered for multiple use also serves in process; for
  // separate multiple use it does not.
  ASSERT_EQ(CoRegisterClassObject(kTestClass, &first, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.out()), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  ASSERT_EQ(CoRegisterClassObject(kTestClass, &first, CLSCTX_LOCAL_SERVER, REGCLS_MULTI_SEPARATE, &cookie), S_OK);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.out()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
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
      Ref<IUnknown> object;
      EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.out()), S_OK);
      registered.set_value(cookie);
      checked.get_future().wait();
    });
    DWORD cookie = registered.get_future().get();
    onNewThread([&] {
      Apartment apartment(COINIT_APARTMENTTHREADED);
      Ref<IUnknown> object;
      EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.out()),
                REGDB_E_CLASSNOTREG);
      EXPECT_EQ(CoRevokeClassObject(cookie), RPC_E_WRONG_THREAD);
    });
    // Threads of the multithreaded apartment share its registrations.
    onNewThread([&] {
      Apartment apartment(COINIT_MULTITHREADED);
      Ref<IUnknown> object;
      EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.out()),
                mode == COINIT_MULTITHREADED ? S_OK : REGDB_E_CLASSNOTREG);
    });
    EXPECT_EQ(factory.references(), 2u);
    checked.set_value();
    owner.join();
    // The owner uninitialised without revoking: the apartment released it.
    EXPECT_EQ(factory.references(), 1u) << "mode " << mode;
  }
  EXPECT_EQ(factory.made, 3);
}

TEST(Activation, OleRunStartsOnlyRunnableObjects) {
  // No apartment is needed.
  onNewThread([] {
    auto *runnable = new TestObject;
    runnable->runResult = 0x80041234;
    EXPECT_EQ(OleRun(static_cast<IRunnableObject *>(runnable)), HRESULT(0x80041234));
    EXPECT_EQ(runnable->runs, 1);
    EXPECT_EQ(runnable->runContext, nullptr);
    runnable->Release();

    // An object that has no running state to enter is running already.
    TestClassFactory plain;
    EXPECT_EQ(OleRun(&plain), S_OK);
    EXPECT_EQ(plain.references(), 1u);
  });
}

TEST(Activation, CreateInstanceExAnswersEachInterface) {
  Apartment apartment(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  TestClassFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kTestClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);

  MULTI_QI some[3] = {{&IID_IUnknown, nullptr, 0}, {&IID_IDispatch, nullptr, 0}, {&IID_ISupportErrorInfo, nullptr, 0}};
  EXPECT_EQ(CoCreateInstanceEx(kTestClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 3, some), CO_S_NOTALLINTERFACES);
  EXPECT_EQ(some[0].hr, S_OK);
  EXPECT_EQ(some[1].hr, E_NOINTERFACE);
  EXPECT_EQ(some[1].pItf, nullptr);
  EXPECT_EQ(some[2].hr, S_OK);
  ASSERT_NE(some[0].pItf, nullptr);
  ASSERT_NE(some[2].pItf, nullptr);
  // One object, with one reference per answered entry.
  Ref<IUnknown> identity;
  EXPECT_EQ(some[2].pItf->QueryInterface(IID_IUnknown, identity.out()), S_OK);
  EXPECT_EQ(identity.get(), some[0].pItf);
  some[0].pItf->Release();
  some[2].pItf->Release();

  MULTI_QI none[1] = {{&IID_IDispatch, nullptr, 0}};
  EXPECT_EQ(CoCreateInstanceEx(kTestClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, none), E_NOINTERFACE);
  EXPECT_EQ(CoCreateInstanceEx(kTestClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 0, none), E_INVALIDARG);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);

  // When the class cannot be created, every entry says "no interface".
  MULTI_QI unknown[1] = {{&IID_IUnknown, reinterpret_cast<IUnknown *>(1), S_OK}};
  EXPECT_EQ(CoCreateInstanceEx(kTestClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, unknown), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(unknown[0].pItf, nullptr);
  EXPECT_EQ(unknown[0].hr, E_NOINTERFACE);
  EXPECT_EQ(factory.made, 2);
}

}  // namespace
