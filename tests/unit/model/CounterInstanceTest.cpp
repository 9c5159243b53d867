// Counters and instances: initial values, the value type rules, deep copies,
// string stores and resets.
#include "ComponentFixture.h"

namespace {

class Counter : public ComponentFixture {
 protected:
  void SetUp() override {
    create(CLSID_PerfCounter, IID_IPerfCounter, counter);
    takeError();
  }

  VARTYPE valueType() {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(S_OK, counter->get_Value(&v));
    VARTYPE type = V_VT(&v);
    VariantClear(&v);
    return type;
  }

  Ref<IPerfCounter> counter;
};

TEST_F(Counter, ANewCounter) {
  EXPECT_EQ(VT_EMPTY, valueType());
  EXPECT_EQ("", readText([&](BSTR *t) { return counter->get_Name(t); }));
  EXPECT_EQ("", readText([&](BSTR *t) { return counter->get_Help(t); }));
  EXPECT_EQ("no_calc", readText([&](BSTR *t) { return counter->get_AutoCalcInstanceTotal(t); }));
  LONG scale = -1, type = -1, size = -1, id = -1;
  counter->get_DefaultScale(&scale);
  counter->get_CounterType(&type);
  counter->get_CounterSize(&size);
  counter->get_ID(&id);
  EXPECT_EQ(0, scale);
  EXPECT_EQ(65536, type);
  EXPECT_EQ(4, size);
  EXPECT_EQ(0, id);
  // Nothing is derived: a 64-bit type leaves the size alone.
  counter->put_CounterType(65792);
  counter->get_CounterSize(&size);
  EXPECT_EQ(4, size);
}

TEST_F(Counter, ValueTypeRules) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = 7;
  ASSERT_EQ(S_OK, counter->put_Value(v));
  EXPECT_EQ(VT_I4, valueType());
  V_VT(&v) = VT_R8;
  V_R8(&v) = 2.5;
  ASSERT_EQ(S_OK, counter->put_Value(v));
  EXPECT_EQ(VT_R8, valueType());

  LONG number = 3;
  VARIANT refused[4];
  for (VARIANT &r : refused) VariantInit(&r);
  V_VT(&refused[0]) = VT_I2;
  V_VT(&refused[1]) = VT_I4 | VT_BYREF;
  V_I4REF(&refused[1]) = &number;
  V_VT(&refused[2]) = VT_EMPTY;
  V_VT(&refused[3]) = VT_BSTR;
  V_BSTR(&refused[3]) = nullptr;
  for (VARIANT &r : refused) {
    EXPECT_EQ(E_INVALIDARG, counter->put_Value(r));
    const ErrorSeen seen = takeError();
    EXPECT_EQ("Invalid counter type. Type must be a Variant Long, Double, or an Array of Bytes.", seen.description);
    EXPECT_EQ("rvZedaZuvivurAzodav_83.PerfCounter", seen.source);
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, seen.guid));
  }
  // The old value survives a refused store.
  VARIANT now;
  VariantInit(&now);
  counter->get_Value(&now);
  EXPECT_EQ(VT_R8, V_VT(&now));
  EXPECT_EQ(2.5, V_R8(&now));

  // A byte array is copied deeply, both ways.
  SAFEARRAY *bytes = SafeArrayCreateVector(VT_UI1, 0, 3);
  static_cast<BYTE *>(bytes->pvData)[0] = 9;
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = bytes;
  ASSERT_EQ(S_OK, counter->put_Value(v));
  static_cast<BYTE *>(bytes->pvData)[0] = 1;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(S_OK, counter->get_Value(&copy));
  ASSERT_EQ(VT_ARRAY | VT_UI1, V_VT(&copy));
  EXPECT_NE(bytes, V_ARRAY(&copy));
  EXPECT_EQ(9, static_cast<BYTE *>(V_ARRAY(&copy)->pvData)[0]);
  VariantClear(&copy);
  SafeArrayDestroy(bytes);

  // A two-dimensional byte array passes the tag check.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY *square = SafeArrayCreate(VT_UI1, 2, bounds);
  V_ARRAY(&v) = square;
  EXPECT_EQ(S_OK, counter->put_Value(v));
  SafeArrayDestroy(square);

  EXPECT_EQ(S_OK, counter->ResetCounter());
  EXPECT_EQ(VT_EMPTY, valueType());
  EXPECT_EQ(S_OK, counter->ResetCounter());
  EXPECT_EQ(VT_EMPTY, valueType());
}

TEST_F(Counter, TextStores) {
  OLECHAR withZero[] = {'a', 'b', 0, 'c'};
  TestBstr name(withZero, 4);
  ASSERT_EQ(S_OK, counter->put_Name(name.value));
  BSTR read = nullptr;
  ASSERT_EQ(S_OK, counter->get_Name(&read));
  EXPECT_EQ(2u, SysStringLen(read));
  SysFreeString(read);
  ASSERT_EQ(S_OK, counter->put_Name(nullptr));
  EXPECT_EQ("", readText([&](BSTR *t) { return counter->get_Name(t); }));

  TestBstr keyword("NO_CACL");
  counter->put_AutoCalcInstanceTotal(keyword.value);
  EXPECT_EQ("NO_CACL", readText([&](BSTR *t) { return counter->get_AutoCalcInstanceTotal(t); }));
}

TEST_F(Counter, ResetsReachEveryCounterBelow) {
  Ref<IPerfInstance> instance;
  create(CLSID_PerfInstance, IID_IPerfInstance, instance);
  Ref<IPerfCounters> live, again;
  ASSERT_EQ(S_OK, instance->get_PerfCounters(live.put()));
  ASSERT_EQ(S_OK, instance->get_PerfCounters(again.put()));
  EXPECT_EQ(live.p, again.p);
  EXPECT_EQ(S_OK, live->ResetCounters());

  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = 5;
  for (int i = 0; i < 3; ++i) {
    Ref<IPerfCounter> c;
    ASSERT_EQ(S_OK, again->AddNew(0, c.put()));
    c->put_Value(v);
  }
  instance->put_TimeStamp(-12.5);
  ASSERT_EQ(S_OK, instance->ResetCounters());
  // The manager passes the reset on to every object below it.
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  Ref<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  Ref<IPerfObject> object;
  ASSERT_EQ(S_OK, objects->AddNew(1, object.put()));
  Ref<IPerfCounters> tmpl;
  object->get_PerfCounters(tmpl.put());
  Ref<IPerfCounter> member;
  ASSERT_EQ(S_OK, tmpl->AddNew(0, member.put()));
  member->put_Value(v);
  ASSERT_EQ(S_OK, manager->ResetCounters());
  VARIANT emptied;
  VariantInit(&emptied);
  member->get_Value(&emptied);
  EXPECT_EQ(VT_EMPTY, V_VT(&emptied));
  DATE stamp = 0;
  instance->get_TimeStamp(&stamp);
  EXPECT_EQ(-12.5, stamp);
  LONG n = 0;
  live->get_Count(&n);
  ASSERT_EQ(3, n);
  for (LONG i = 1; i <= n; ++i) {
    Ref<IPerfCounter> c;
    live->get_Item(i, c.put());
    VARIANT value;
    VariantInit(&value);
    c->get_Value(&value);
    EXPECT_EQ(VT_EMPTY, V_VT(&value));
  }
}

}  // namespace
