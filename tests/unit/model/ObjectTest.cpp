// Performance objects and counters: instance creation from the template, the
// _Total calculation, the object collection's walks over all objects, and a
// counter's value rules, string stores and resets.
#include "ComponentFixture.h"
#include "Trees.h"

#include <string>
#include <vector>

using namespace trees;

namespace {

class Object : public ComponentFixture {
 protected:
  void SetUp() override {
    create(CLSID_PerfObjects, IID_IPerfObjects, objects);
    takeError();
  }

  // An object that keeps a _Total, with a template of counters given as
  // (ID, keyword) pairs.
  IPerfObject *totalled(LONG id, const std::vector<std::pair<LONG, std::string>> &tmpl) {
    IPerfObject *object = addObject(objects.p, id, "Obj" + std::to_string(id), true, true);
    for (const auto &[counterId, keyword] : tmpl) addCounter(countersOf(object), counterId, "C", keyword);
    return object;
  }

  // Sets the counters of an instance (created if missing) in template order.
  IPerfInstance *withValues(IPerfObject *object, const std::string &name, const std::vector<std::string> &values) {
    IPerfInstance *made = instance(object, name);
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
      Ref<IPerfCounter> c;
      countersOf(made)->get_Item(i + 1, c.put());
      if (values[i] == "EMPTY")
        c->ResetCounter();
      else
        setValue(c.p, values[i]);
    }
    return made;
  }

  Ref<IPerfObjects> objects;
};

TEST_F(Object, CreateInstanceCopiesTheTemplateAndFindsNamesInCapitals) {
  Ref<IPerfObject> object;
  create(CLSID_PerfObject, IID_IPerfObject, object);
  IPerfInstances *instances = instancesOf(object.p);
  IPerfCounters *tmpl = countersOf(object.p);

  // Only exactly -1 means the object has instances.
  object->put_HasInstances(1);
  Ref<IPerfInstance> none;
  TestBstr name("A");
  EXPECT_EQ(E_FAIL, object->CreateInstance(name.value, none.put()));
  EXPECT_EQ(nullptr, none.p);
  const ErrorSeen seen = takeError();
  EXPECT_EQ("CreateInstance failure. Object does not support instances.", seen.description);
  EXPECT_EQ("rvZedaZuvivurAzodav_83.PerfObject", seen.source);
  EXPECT_EQ(0, countOf(instances));
  object->put_HasInstances(VARIANT_TRUE);

  addCounter(tmpl, 2, "Requests", "avg", "I4:5");
  addCounter(tmpl, 4, "Load", "no_calc", "R8:0.5");
  IPerfInstance *first = instance(object.p, "Alpha");
  EXPECT_EQ(first, instance(object.p, "ALPHA"));
  EXPECT_EQ("Alpha", readText([&](BSTR *t) { return first->get_Name(t); }));
  EXPECT_EQ(1, countOf(instances));
  EXPECT_EQ("I4:5", valueOf(first, 2));
  EXPECT_EQ("R8:0.5", valueOf(first, 4));
  EXPECT_EQ("avg", readText([&](BSTR *t) { return counter(first, 2)->get_AutoCalcInstanceTotal(t); }));

  // The copy is the template's state when the instance was made.
  setValue(counter(object.p, 2), "I4:9");
  EXPECT_EQ("I4:5", valueOf(first, 2));
  // An existing instance comes back untouched.
  setValue(counter(first, 2), "I4:1");
  instance(object.p, "alpha");
  EXPECT_EQ("I4:1", valueOf(first, 2));

  // A null name never finds an instance: each call adds another.
  for (int i = 0; i < 2; ++i) {
    Ref<IPerfInstance> unnamed;
    ASSERT_EQ(S_OK, object->CreateInstance(nullptr, unnamed.put()));
  }
  EXPECT_EQ(3, countOf(instances));

  ASSERT_EQ(S_OK, object->ResetCounters());
  EXPECT_EQ("EMPTY", valueOf(object.p, 2));
  EXPECT_EQ("EMPTY", valueOf(first, 2));
  EXPECT_EQ("EMPTY", valueOf(first, 4));

  // Instances copy the template's texts; writing one of the copies, by a
  // put or by a blob whose text has the same length, changes that copy
  // alone, and the template's own changes reach no instance made before.
  const auto nameOf = [](IPerfCounter *c) { return readText([&](BSTR *t) { return c->get_Name(t); }); };
  const auto helpOf = [](IPerfCounter *c) { return readText([&](BSTR *t) { return c->get_Help(t); }); };
  TestBstr help("How many");
  counter(object.p, 2)->put_Help(help.value);
  IPerfInstance *second = instance(object.p, "Beta");
  IPerfInstance *third = instance(object.p, "Gamma");
  TestBstr renamed("Rejected");
  counter(second, 2)->put_Name(renamed.value);
  EXPECT_EQ("Rejected", nameOf(counter(second, 2)));
  EXPECT_EQ("Requests", nameOf(counter(third, 2)));
  EXPECT_EQ("Requests", nameOf(counter(object.p, 2)));
  Ref<IPerfCounter> other;
  create(CLSID_PerfCounter, IID_IPerfCounter, other);
  TestBstr sameLength("Requires"), otherHelp("How much");
  other->put_ID(2);
  other->put_Name(sameLength.value);
  other->put_Help(otherHelp.value);
  VARIANT blob;
  VariantInit(&blob);
  ASSERT_EQ(S_OK, other->get_MyBlob(btAsBinaryArray, &blob));
  ASSERT_EQ(S_OK, counter(third, 2)->put_MyBlob(btAsBinaryArray, blob));
  VariantClear(&blob);
  EXPECT_EQ("Requires", nameOf(counter(third, 2)));
  EXPECT_EQ("How much", helpOf(counter(third, 2)));
  EXPECT_EQ("Requests", nameOf(counter(object.p, 2)));
  EXPECT_EQ("How many", helpOf(counter(object.p, 2)));
  EXPECT_EQ("How many", helpOf(counter(second, 2)));
  // The template itself, read from a blob, leaves its copies as they were.
  ASSERT_EQ(S_OK, other->get_MyBlob(btAsBinaryArray, &blob));
  ASSERT_EQ(S_OK, counter(object.p, 2)->put_MyBlob(btAsBinaryArray, blob));
  VariantClear(&blob);
  EXPECT_EQ("Requires", nameOf(counter(object.p, 2)));
  EXPECT_EQ("Rejected", nameOf(counter(second, 2)));
  EXPECT_EQ("How many", helpOf(counter(second, 2)));
  // Every copy goes with its own instance, the shared text with the last.
  EXPECT_EQ(S_OK, instances->RemoveAll());
  EXPECT_EQ("How much", helpOf(counter(object.p, 2)));
}

TEST_F(Object, TotalsSumAndAverageByKeyword) {
  // Counter 4 has the initial keyword and counter 1's values: it sums.
  IPerfObject *object = totalled(1, {{1, "avg"}, {2, "avg"}, {3, "no_cacl"}, {4, "no_calc"}});
  withValues(object, "A", {"I4:10", "R8:2.5", "I4:4", "I4:10"});
  withValues(object, "B", {"I4:5", "EMPTY", "I4:6", "I4:5"});
  IPerfInstance *total = instance(object, "_Total");
  setValue(counter(total, 3), "I4:99");
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(S_OK, object->CalcTotalInstance());
    EXPECT_EQ("I4:7", valueOf(total, 1));
    EXPECT_EQ("R8:1.25", valueOf(total, 2)) << "B counts in the divisor although it gave nothing";
    EXPECT_EQ("EMPTY", valueOf(total, 3));
    EXPECT_EQ("I4:15", valueOf(total, 4));
  }
  // The sum pass follows each instance counter's keyword, the average pass
  // the _Total counter's.
  Ref<IPerfInstance> a;
  TestBstr nameA("a");
  instancesOf(object)->get_ItemByName(nameA.value, a.put());
  TestBstr keep("no_cacl");
  counter(a.p, 4)->put_AutoCalcInstanceTotal(keep.value);
  TestBstr average("avg");
  counter(total, 4)->put_AutoCalcInstanceTotal(average.value);
  ASSERT_EQ(S_OK, object->CalcTotalInstance());
  EXPECT_EQ("I4:2", valueOf(total, 4));
  EXPECT_EQ("I4:10", valueOf(a.p, 4));
}

TEST_F(Object, TotalEdges) {
  struct Case {
    const char *what;
    const char *keyword;
    std::vector<std::string> values;  // one per instance before _Total
    std::string expected;
  };
  const Case cases[] = {
      {"32-bit sums wrap around", "no_calc", {"I4:2147483647", "I4:1"}, "I4:-2147483648"},
      {"integer averages truncate toward zero", "avg", {"I4:-3", "I4:-4"}, "I4:-3"},
      {"byte arrays add nothing", "no_calc", {"BYTES:2", "BYTES:1"}, "EMPTY"},
      {"doubles average in double precision", "avg", {"R8:1", "R8:2", "EMPTY"}, "R8:1"},
      // Where integers and doubles meet under one ID the total becomes a
      // double holding every contribution.
      {"integers then a double", "no_calc", {"I4:2", "I4:3", "R8:0.5"}, "R8:5.5"},
      {"a double then an integer", "avg", {"R8:0.5", "I4:2"}, "R8:1.25"},
      {"no instance besides _Total", "avg", {}, "EMPTY"},
  };
  LONG id = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    IPerfObject *object = totalled(id++, {{7, c.keyword}});
    setValue(counter(object, 7), "I4:1000");
    IPerfInstance *total = instance(object, "_Total");
    for (size_t i = 0; i < c.values.size(); ++i) withValues(object, "I" + std::to_string(i), {c.values[i]});
    ASSERT_EQ(S_OK, object->CalcTotalInstance());
    EXPECT_EQ(c.expected, valueOf(total, 7));
  }
}

TEST_F(Object, TotalNeedsItsInstanceAndTakesTheFirstOfItsName) {
  IPerfObject *object = totalled(1, {{1, "no_calc"}, {2, "no_calc"}});
  withValues(object, "A", {"I4:1", "I4:2"});
  EXPECT_EQ(E_FAIL, object->CalcTotalInstance());
  EXPECT_EQ("CalcTotalInstance failed. No _Total instance found. Call CreateInstance() first.",
            takeError().description);
  EXPECT_EQ("I4:1", valueOf(instance(object, "A"), 1));

  // Without both flags there is nothing to calculate and nothing to miss.
  object->put_AutoCreateInstanceTotal(1);
  EXPECT_EQ(S_OK, object->CalcTotalInstance());
  object->put_AutoCreateInstanceTotal(VARIANT_TRUE);

  // The total is the first _Total in capitals; a later one sums like any
  // other instance.
  IPerfInstance *total = instance(object, "_TOTAL");
  Ref<IPerfInstance> second;
  ASSERT_EQ(S_OK, instancesOf(object)->AddNew(0, second.put()));
  TestBstr sameName("_Total");
  second->put_Name(sameName.value);
  // The second one lacks counter 2: its counter 9 has no _Total counter and
  // is left out, and the calculation still succeeds.
  addCounter(countersOf(second.p), 1, "C", "no_calc", "I4:10");
  addCounter(countersOf(second.p), 9, "Stray", "no_calc", "I4:100");
  ASSERT_EQ(S_OK, object->CalcTotalInstance());
  EXPECT_EQ("I4:11", valueOf(total, 1));
  EXPECT_EQ("I4:2", valueOf(total, 2));
  EXPECT_EQ(nullptr, counter(total, 9));
}

TEST_F(Object, CollectionWalksStopAtTheFirstFailure) {
  IPerfObject *first = totalled(1, {{1, "no_calc"}});
  IPerfObject *plain = addObject(objects.p, 2, "Plain", true, false);
  IPerfObject *odd = addObject(objects.p, 3, "Odd", true, true);
  odd->put_HasInstances(1);
  IPerfObject *lost = totalled(4, {{1, "no_calc"}});
  IPerfObject *last = totalled(5, {{1, "no_calc"}});
  for (int run = 0; run < 2; ++run) ASSERT_EQ(S_OK, objects->CreateTotalInstances());
  for (IPerfObject *object : {first, plain, odd, lost, last})
    EXPECT_EQ(object == plain || object == odd ? 0 : 1, countOf(instancesOf(object)));

  withValues(first, "A", {"I4:3"});
  withValues(lost, "A", {"I4:1"});
  withValues(last, "A", {"I4:4"});
  ASSERT_EQ(S_OK, objects->CalcTotalInstances());
  EXPECT_EQ("I4:3", valueOf(instance(first, "_Total"), 1));
  EXPECT_EQ("I4:4", valueOf(instance(last, "_Total"), 1));

  // An object that keeps a total but lost it stops the walk: the objects
  // before it are calculated, the ones after it keep their old totals.
  ASSERT_EQ(S_OK, instancesOf(lost)->Remove(1));
  withValues(first, "A", {"I4:30"});
  withValues(last, "A", {"I4:40"});
  EXPECT_EQ(E_FAIL, objects->CalcTotalInstances());
  EXPECT_EQ("I4:30", valueOf(instance(first, "_Total"), 1));
  EXPECT_EQ("I4:4", valueOf(instance(last, "_Total"), 1));

  TestBstr name("oBJ1");
  Ref<IPerfObject> found;
  ASSERT_EQ(S_OK, objects->get_ItemByName(name.value, found.put()));
  EXPECT_EQ(first, found.p);
}

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
    EXPECT_EQ("Invalid counter type. Type must be a Variant Long, Double, or an Array of Bytes.",
              takeError().description);
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

  EXPECT_EQ(S_OK, counter->ResetCounter());
  EXPECT_EQ("EMPTY", valueOf(counter.p));

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
  Ref<IPerfCounters> live;
  ASSERT_EQ(S_OK, instance->get_PerfCounters(live.put()));
  for (LONG id = 0; id < 3; ++id) addCounter(live.p, id, "C", "no_calc", "I4:5");
  instance->put_TimeStamp(-12.5);
  ASSERT_EQ(S_OK, instance->ResetCounters());
  // The manager passes the reset on to every object below it.
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  IPerfObject *object = addObject(objectsOf(manager.p), 1, "O", false, false);
  IPerfCounter *member = addCounter(countersOf(object), 0, "C", "no_calc", "I4:5");
  ASSERT_EQ(S_OK, manager->ResetCounters());
  EXPECT_EQ("EMPTY", valueOf(member));
  DATE stamp = 0;
  instance->get_TimeStamp(&stamp);
  EXPECT_EQ(-12.5, stamp);
  ASSERT_EQ(3, countOf(live.p));
  for (LONG id = 0; id < 3; ++id) EXPECT_EQ("EMPTY", valueOf(instance.p, id));
}

}  // namespace
