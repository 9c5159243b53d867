// Counters and instances: the value type rules, deep copies, string stores
// and resets.
#include "ComponentFixture.h"
#include "Trees.h"

using namespace trees;

namespace {

class Counter : public ComponentFixture {
 protected:
  void SetUp() override {
    create(CLSID_PerfCounter, IID_IPerfCounter, counter);
    takeError();
  }

  Ref<IPerfCounter> counter;
};

TEST_F(Counter, ValueTypeRules) {
  setValue(counter.p, "I4:7");
  EXPECT_EQ("I4:7", valueOf(counter.p));
  setValue(counter.p, "R8:2.5");

  LONG number = 3;
  VARIANT refused[4] = {};
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
  EXPECT_EQ("R8:2.5", valueOf(counter.p));

  // A byte array is copied deeply, both ways.
  VARIANT v;
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, 0, 3);
  static_cast<BYTE *>(V_ARRAY(&v)->pvData)[0] = 9;
  ASSERT_EQ(S_OK, counter->put_Value(v));
  static_cast<BYTE *>(V_ARRAY(&v)->pvData)[0] = 1;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(S_OK, counter->get_Value(&copy));
  ASSERT_EQ(VT_ARRAY | VT_UI1, V_VT(&copy));
  EXPECT_NE(V_ARRAY(&v), V_ARRAY(&copy));
  EXPECT_EQ(9, static_cast<BYTE *>(V_ARRAY(&copy)->pvData)[0]);
  VariantClear(&copy);
  VariantClear(&v);

  // A two-dimensional byte array passes the tag check.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = SafeArrayCreate(VT_UI1, 2, bounds);
  EXPECT_EQ(S_OK, counter->put_Value(v));
  VariantClear(&v);

  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(S_OK, counter->ResetCounter());
    EXPECT_EQ("EMPTY", valueOf(counter.p));
  }

  // A name is kept up to its first zero; a null name reads as empty.
  OLECHAR withZero[] = {'a', 'b', 0, 'c'};
  TestBstr name(withZero, 4);
  ASSERT_EQ(S_OK, counter->put_Name(name.value));
  BSTR read = nullptr;
  ASSERT_EQ(S_OK, counter->get_Name(&read));
  EXPECT_EQ(2u, SysStringLen(read));
  SysFreeString(read);
  ASSERT_EQ(S_OK, counter->put_Name(nullptr));
  EXPECT_EQ("", readText([&](BSTR *t) { return counter->get_Name(t); }));
}

TEST_F(Counter, ResetsReachEveryCounterBelow) {
  Ref<IPerfInstance> instance;
  create(CLSID_PerfInstance, IID_IPerfInstance, instance);
  Ref<IPerfCounters> live, again;
  ASSERT_EQ(S_OK, instance->get_PerfCounters(live.put()));
  ASSERT_EQ(S_OK, instance->get_PerfCounters(again.put()));
  EXPECT_EQ(live.p, again.p);
  for (LONG id = 0; id < 3; ++id) addCounter(live.p, id, "C", "no_calc", "I4:5");
  instance->put_TimeStamp(-12.5);
  ASSERT_EQ(S_OK, instance->ResetCounters());
  // The manager passes the reset on to every object below it.
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  Ref<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  Ref<IPerfCounters> tmpl;
  addObject(objects.p, 1, "O", false, false)->get_PerfCounters(tmpl.put());
  IPerfCounter *member = addCounter(tmpl.p, 0, "C", "no_calc", "I4:5");
  ASSERT_EQ(S_OK, manager->ResetCounters());
  EXPECT_EQ("EMPTY", valueOf(member));
  DATE stamp = 0;
  instance->get_TimeStamp(&stamp);
  EXPECT_EQ(-12.5, stamp);
  ASSERT_EQ(3, countOf(live.p));
  for (LONG id = 0; id < 3; ++id) EXPECT_EQ("EMPTY", valueOf(instance.p, id));
}

}  // namespace
