// The collections: positions, IDs, names, removal, enumeration, and the
// untyped IPerfCollection.
#include "ComponentFixture.h"
#include "Trees.h"

#include <vector>

namespace {

class Collection : public ComponentFixture {
 protected:
  void SetUp() override {
    create(CLSID_PerfCounters, IID_IPerfCounters, counters);
    takeError();
  }

  // Adds a counter with the given ID and name; returns its pointer (held by the collection).
  IPerfCounter *addCounter(LONG id, const char *name) {
    Ref<IPerfCounter> counter;
    EXPECT_EQ(S_OK, counters->AddNew(id, counter.put()));
    if (name) {
      TestBstr text(name);
      counter->put_Name(text.value);
    }
    return counter.p;
  }

  LONG count() { return trees::countOf(counters.p); }

  LONG idAt(LONG index) {
    Ref<IPerfCounter> member;
    EXPECT_EQ(S_OK, counters->get_Item(index, member.put()));
    LONG id = -1;
    if (member) member->get_ID(&id);
    return id;
  }

  Ref<IPerfCounters> counters;
};

TEST_F(Collection, PositionsAreOneBasedAndOutOfRangeFindsNothing) {
  IPerfCounter *first = addCounter(1, "a");
  addCounter(2, "b");
  addCounter(3, "c");
  for (LONG index : {0, 4, -1}) {
    Ref<IPerfCounter> member;
    member.p = reinterpret_cast<IPerfCounter *>(1);
    EXPECT_EQ(S_OK, counters->get_Item(index, &member.p));
    EXPECT_EQ(nullptr, member.p);
  }
  Ref<IPerfCounter> item;
  ASSERT_EQ(S_OK, counters->get_Item(1, item.put()));
  EXPECT_EQ(first, item.p);
  EXPECT_EQ(3, idAt(3));

  for (LONG index : {0, 4}) {
    EXPECT_EQ(E_INVALIDARG, counters->Remove(index));
    const ErrorSeen seen = takeError();
    EXPECT_EQ("Index out of bounds.", seen.description);
    EXPECT_TRUE(IsEqualGUID(IID_IPerfCounters, seen.guid));
  }
  EXPECT_EQ(S_OK, counters->Remove(2));
  EXPECT_EQ(2, count());
  EXPECT_EQ(3, idAt(2));
}

TEST_F(Collection, IdsAreNotUniqueByConstructionButAddRefusesDuplicates) {
  Ref<IPerfCounter> a, b;
  ASSERT_EQ(S_OK, counters->AddNew(0, a.put()));
  ASSERT_EQ(S_OK, counters->AddNew(0, b.put()));
  EXPECT_NE(a.p, b.p);
  addCounter(5, nullptr);
  EXPECT_EQ(3, count());

  Ref<IPerfCounter> duplicate;
  EXPECT_EQ(E_FAIL, counters->AddNew(5, duplicate.put()));
  EXPECT_EQ(nullptr, duplicate.p);
  EXPECT_EQ("The object already exists within the collection with the same ID.", takeError().description);
  EXPECT_EQ(3, count());
  // The same object added twice with ID 0 appears twice; RemoveByID takes the first.
  EXPECT_EQ(S_OK, counters->Add(a.p));
  EXPECT_EQ(4, count());
  EXPECT_EQ(S_OK, counters->RemoveByID(0));
  Ref<IPerfCounter> now;
  counters->get_Item(1, now.put());
  EXPECT_EQ(b.p, now.p);
  EXPECT_EQ(3, count());

  Ref<IPerfCounter> found;
  EXPECT_EQ(S_OK, counters->get_ItemByID(77, found.put()));
  EXPECT_EQ(nullptr, found.p);

  EXPECT_EQ(E_INVALIDARG, counters->RemoveByID(77));
  EXPECT_EQ(3, count());

  // A null member is refused without harm.
  EXPECT_TRUE(FAILED(counters->Add(nullptr)));
  EXPECT_EQ(3, count());
  // AddNew without a place for the result leaves the member in the collection.
  EXPECT_EQ(S_OK, counters->AddNew(9, nullptr));
  EXPECT_EQ(4, count());
}

TEST_F(Collection, NamesMatchWithoutRegardToCase) {
  addCounter(1, "First");
  addCounter(2, nullptr);  // never named: reads as empty
  OLECHAR mixed[] = {'c', 'a', 'f', 0xE9, ' ', 'S', 't', 'r', 'a', 0xDF, 'e'};
  TestBstr mixedName(mixed, 11);
  addCounter(3, nullptr)->put_Name(mixedName.value);
  Ref<IPerfCounter> found;
  TestBstr lower("first");
  ASSERT_EQ(S_OK, counters->get_ItemByName(lower.value, found.put()));
  ASSERT_NE(nullptr, found.p);
  LONG id = 0;
  found->get_ID(&id);
  EXPECT_EQ(1, id);

  // Windows-1252 letters fold too.
  OLECHAR accented[] = {'C', 'A', 'F', 0xC9, ' ', 's', 't', 'r', 'a', 0xDF, 'e'};
  TestBstr upper(accented, 11);
  ASSERT_EQ(S_OK, counters->get_ItemByName(upper.value, found.put()));
  ASSERT_NE(nullptr, found.p);
  found->get_ID(&id);
  EXPECT_EQ(3, id);

  // A null name finds nothing; an empty one finds the unnamed member.
  ASSERT_EQ(S_OK, counters->get_ItemByName(nullptr, found.put()));
  EXPECT_EQ(nullptr, found.p);
  TestBstr empty("");
  ASSERT_EQ(S_OK, counters->get_ItemByName(empty.value, found.put()));
  ASSERT_NE(nullptr, found.p);
  found->get_ID(&id);
  EXPECT_EQ(2, id);

  // The wanted name counts up to its first zero.
  OLECHAR cut[] = {'f', 'i', 'r', 's', 't', 0, 'x'};
  TestBstr withZero(cut, 7);
  ASSERT_EQ(S_OK, counters->get_ItemByName(withZero.value, found.put()));
  EXPECT_NE(nullptr, found.p);
}

TEST_F(Collection, AnEnumeratorOutlivesRemoveAll) {
  IPerfCounter *first = addCounter(1, "a");
  IPerfCounter *second = addCounter(2, "b");
  Ref<IUnknown> unknown;
  ASSERT_EQ(S_OK, counters->get__NewEnum(unknown.put()));
  Ref<IEnumVARIANT> items;
  ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IEnumVARIANT, items.putVoid()));

  EXPECT_EQ(S_OK, counters->RemoveAll());
  EXPECT_EQ(0, count());

  VARIANT got[3];
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, items->Next(3, got, &fetched));
  ASSERT_EQ(2u, fetched);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(VT_DISPATCH, V_VT(&got[i]));
    Ref<IPerfCounter> member;
    V_DISPATCH(&got[i])->QueryInterface(IID_IPerfCounter, member.putVoid());
    EXPECT_EQ(i == 0 ? first : second, member.p);
    VariantClear(&got[i]);
  }

  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_OK, items->Skip(1));
  Ref<IEnumVARIANT> copy;
  ASSERT_EQ(S_OK, items->Clone(copy.put()));
  EXPECT_EQ(S_OK, copy->Next(1, got, &fetched));
  EXPECT_EQ(1u, fetched);
  VariantClear(&got[0]);
  EXPECT_EQ(S_FALSE, items->Skip(5));
}

// A member this collection made is called as its own class; one made by
// another collection and added here is reached through its interfaces.
// Side by side, the two kinds are handed out, found, written and read
// alike, and keep their kinds when members before them leave.
TEST_F(Collection, MembersMadeHereAndAddedFromElsewhereBehaveAlike) {
  Ref<IPerfCounters> elsewhere, allMadeHere;
  create(CLSID_PerfCounters, IID_IPerfCounters, elsewhere);
  create(CLSID_PerfCounters, IID_IPerfCounters, allMadeHere);
  const char *names[] = {"One", "Two", "Three", "Four"};
  IPerfCounter *added[4] = {};
  for (LONG id = 1; id <= 4; ++id) {
    const std::string value = "I4:" + std::to_string(10 * id);
    trees::addCounter(allMadeHere.p, id, names[id - 1], "no_calc", value);
    if (id % 2 == 0) {
      added[id - 1] = trees::addCounter(elsewhere.p, id, names[id - 1], "no_calc", value);
      ASSERT_EQ(S_OK, counters->Add(added[id - 1]));
    } else {
      trees::addCounter(counters.p, id, names[id - 1], "no_calc", value);
    }
  }
  EXPECT_EQ(trees::blobOf(allMadeHere.p), trees::blobOf(counters.p));
  Ref<IPerfCounter> found;
  ASSERT_EQ(S_OK, counters->get_Item(2, found.put()));
  EXPECT_EQ(added[1], found.p);
  TestBstr four("FOUR");
  ASSERT_EQ(S_OK, counters->get_ItemByName(four.value, found.put()));
  EXPECT_EQ(added[3], found.p);

  // The first member leaves: the others move up with their kinds.
  ASSERT_EQ(S_OK, counters->Remove(1));
  ASSERT_EQ(S_OK, allMadeHere->Remove(1));
  EXPECT_EQ(trees::blobOf(allMadeHere.p), trees::blobOf(counters.p));
  ASSERT_EQ(S_OK, counters->get_ItemByID(4, found.put()));
  EXPECT_EQ(added[3], found.p);

  // A read replaces the members that another collection also holds, so
  // that collection keeps its values; the one made here takes the new value.
  const auto withId = [](IPerfCounters *collection, LONG id) {
    Ref<IPerfCounter> member;
    collection->get_ItemByID(id, member.put());
    return member.p;  // the collection holds it
  };
  trees::setValue(withId(allMadeHere.p, 2), "I4:7");
  trees::setValue(withId(allMadeHere.p, 3), "I4:8");
  ASSERT_EQ(S_OK, trees::putBlob(counters.p, trees::blobOf(allMadeHere.p)));
  EXPECT_EQ(trees::blobOf(allMadeHere.p), trees::blobOf(counters.p));
  EXPECT_EQ("I4:20", trees::valueOf(added[1]));
  ASSERT_EQ(S_OK, counters->get_Item(1, found.put()));
  EXPECT_NE(added[1], found.p);
  EXPECT_EQ("I4:8", trees::valueOf(withId(counters.p, 3)));
}

TEST_F(Collection, UntypedCollectionForwardsAndChecksTheMemberClass) {
  Ref<IPerfCollection> untyped;
  ASSERT_EQ(S_OK, counters->QueryInterface(IID_IPerfCollection, untyped.putVoid()));
  Ref<IDispatch> added;
  ASSERT_EQ(S_OK, untyped->AddNew(4, added.put()));
  EXPECT_EQ(1, trees::countOf(untyped.p));
  Ref<IDispatch> item;
  ASSERT_EQ(S_OK, untyped->get_Item(1, item.put()));
  EXPECT_NE(nullptr, item.p);
  ASSERT_EQ(S_OK, untyped->get_Item(2, item.put()));
  EXPECT_EQ(nullptr, item.p);
  ASSERT_EQ(S_OK, untyped->get_ItemByID(4, item.put()));
  EXPECT_EQ(added.p, item.p);

  Ref<IDispatch> instance;
  create(CLSID_PerfInstance, IID_IDispatch, instance);
  EXPECT_EQ(E_INVALIDARG, untyped->Add(instance.p));
  // The typed Add, handed another class's object as a late-bound caller can.
  EXPECT_EQ(E_INVALIDARG, counters->Add(reinterpret_cast<IPerfCounter *>(instance.p)));
  EXPECT_EQ(E_INVALIDARG, untyped->Add(nullptr));
  Ref<IDispatch> counter;
  create(CLSID_PerfCounter, IID_IDispatch, counter);
  EXPECT_EQ(S_OK, untyped->Add(counter.p));
  EXPECT_EQ(2, trees::countOf(untyped.p));

  // No place for the result: each call answers as the public one does.
  // AddNew still adds, and the member lives on in the collection alone.
  EXPECT_EQ(S_OK, counters->AddNew(7, nullptr));
  EXPECT_EQ(S_OK, untyped->AddNew(8, nullptr));
  EXPECT_EQ(4, trees::countOf(untyped.p));
  Ref<IPerfCounter> kept;
  ASSERT_EQ(S_OK, counters->get_ItemByID(8, kept.put()));
  EXPECT_NE(nullptr, kept.p);
  EXPECT_EQ(counters->get_Item(1, nullptr), untyped->get_Item(1, nullptr));
  EXPECT_EQ(counters->get_ItemByID(8, nullptr), untyped->get_ItemByID(8, nullptr));
  EXPECT_EQ(E_POINTER, untyped->get_Item(1, nullptr));
}

}  // namespace
