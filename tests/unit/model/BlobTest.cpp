// Blobs of the object tree: the exact layout, sizes, round trips through a
// byte array and through a string, copies, and damaged blobs.
#include "ComponentFixture.h"
#include "Trees.h"

#include <string>

using namespace trees;

namespace {

// A file of the test data folder; empty when it cannot be read. Under Wine
// the folder is reached through drive Z:.
Bytes readDataFile(const std::string &name) {
  std::string path = std::string(TEST_DATA_DIR) + "/" + name;
#ifdef _WIN32
  for (char &c : path)
    if (c == '/') c = '\\';
  path = "Z:" + path;
#endif
  const std::string text = fileText(path);
  return text == "<missing>" ? Bytes() : Bytes(text.begin(), text.end());
}

// Leaves bytes that differ from a kept file in the temporary folder, to be
// compared, or kept in its place when the change was meant.
void writeTemporaryFile(const std::string &name, const Bytes &bytes) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + name;
  if (writeFileText(path, std::string(bytes.begin(), bytes.end()))) ADD_FAILURE() << "the blob as made is in " << path;
}

class Blob : public ComponentFixture {
 protected:
  void SetUp() override { takeError(); }

  // The manager of the worked example: one object with one counter.
  void buildExample(Ref<IPerfMgr> &manager) {
    create(CLSID_PerfMgr, IID_IPerfMgr, manager);
    manager->put_ID(1);
    addCounter(countersOf(addObject(objectsOf(manager.p), 2, "Obj", false, false)), 3, "C", "no_calc", "I4:5");
  }
};

// The worked example, with what a new manager, object and counter hold, as
// bytes both ways, as a string, and through a caller's array.
TEST_F(Blob, WorkedLayoutOfAManagerBothWays) {
  Ref<IPerfMgr> manager;
  buildExample(manager);
  EXPECT_EQ(
      "manager 1  900\n"
      " object 2 Obj [] 0 0 0\n"
      "  counter 3 C [] I4:5 0 65536 4 no_calc\n",
      dump(manager.p));
  // The device name comes from a definition file; a blob brings one in too.
  Ref<IPerfMgr> named;
  create(CLSID_PerfMgr, IID_IPerfMgr, named);
  ASSERT_EQ(S_OK, putBlob(named.p, managerBlob(1, "Svc")));
  EXPECT_EQ("Svc", readText([&](BSTR *t) { return named->get_DeviceName(t); }));
  // Copy the example's tree under the named manager: CopyFrom would take the
  // device name too, so the objects are copied collection to collection.
  ASSERT_EQ(S_OK, objectsOf(named.p)->CopyFrom(objectsOf(manager.p)));

  const Bytes expected = le32(4) + le32(122) + le32(1) + str("Svc") + le32(900) + le32(1) + le32(2) + str("Obj") +
                         le32(0) + le32(0) + Bytes{0, 0, 0, 0} + le32(1) + le32(3) + str("C") + le32(0) +
                         Bytes{3, 0, 5, 0, 0, 0} + le32(0) + le32(65536) + le32(4) + str("no_calc") + le32(0);
  EXPECT_EQ(expected, blobOf(named.p));
  Ref<IPerfTransfer> transfer;
  ASSERT_EQ(S_OK, named->QueryInterface(IID_IPerfTransfer, transfer.putVoid()));
  LONG size = 0;
  ASSERT_EQ(S_OK, transfer->GetSize(&size));
  EXPECT_EQ(114, size);

  // The same bytes make the same tree in a fresh manager, and give
  // themselves back.
  Ref<IPerfMgr> rebuilt;
  create(CLSID_PerfMgr, IID_IPerfMgr, rebuilt);
  ASSERT_EQ(S_OK, putBlob(rebuilt.p, expected));
  EXPECT_EQ(dump(named.p), dump(rebuilt.p));
  EXPECT_EQ(expected, blobOf(rebuilt.p));

  // Without the device name the blob is 8 bytes shorter, as a string too;
  // reading a caller's array moves the cursor in it to the array's end.
  VARIANT text, array = arrayOf(blobOf(manager.p));
  VariantInit(&text);
  ASSERT_EQ(S_OK, manager->get_MyBlob(btAsString, &text));
  ASSERT_EQ(VT_BSTR, V_VT(&text));
  EXPECT_EQ(114u, SysStringByteLen(V_BSTR(&text)));
  ASSERT_EQ(S_OK, rebuilt->put_MyBlob(btAsBinaryArray, array));
  const Bytes read = bytesOf(array);
  EXPECT_EQ(le32(114), Bytes(read.begin() + 4, read.begin() + 8));
  VariantClear(&text);
  VariantClear(&array);
}

// A whole tree, objects with instances and _Total down to every counter,
// through a byte array, a string and a copy. The blob is also compared with
// one kept from an earlier build, so that both targets make the same bytes.
TEST_F(Blob, WholeTreeRebuildsPropertyByProperty) {
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  ASSERT_EQ(S_OK, putBlob(manager.p, managerBlob(7, "RVSample", 300)));
  buildSample(manager.p);
  const std::string original = dump(manager.p);
  ASSERT_NE(std::string::npos, original.find("instance 0 _Total"));

  for (RVBlobTypeEnum form : {btAsBinaryArray, btAsString}) {
    SCOPED_TRACE(form);
    VARIANT blob;
    VariantInit(&blob);
    ASSERT_EQ(S_OK, manager->get_MyBlob(form, &blob));
    Ref<IPerfMgr> rebuilt;
    create(CLSID_PerfMgr, IID_IPerfMgr, rebuilt);
    ASSERT_EQ(S_OK, rebuilt->put_MyBlob(btAsBinaryArray, blob));
    EXPECT_EQ(original, dump(rebuilt.p));
    VariantClear(&blob);
  }
  Ref<IPerfMgr> copy;
  create(CLSID_PerfMgr, IID_IPerfMgr, copy);
  ASSERT_EQ(S_OK, copy->CopyFrom(manager.p));
  EXPECT_EQ(original, dump(copy.p));

  const Bytes made = blobOf(manager.p), kept = readDataFile("sample-tree.blob");
  EXPECT_TRUE(kept == made) << kept.size() << " bytes kept, " << made.size() << " made";
  if (kept != made) writeTemporaryFile("sample-tree.blob", made);
}

// MyBlob writes a tree of the component's own nodes without its framed
// transfer; the bytes must be those the transfer writes (CreateArray, then
// TransferOut), for every kind of value a counter can hold after a read.
TEST_F(Blob, MyBlobWritesWhatTheTransferWritesForEveryKindOfValue) {
  auto tagged = [](VARTYPE tag, const Bytes &payload) {
    return Bytes{static_cast<unsigned char>(tag), static_cast<unsigned char>(tag >> 8)} + payload;
  };
  const Bytes bytes8 = le32(0x11223344) + le32(0x55667788);
  const struct {
    const char *what;
    Bytes value;
    bool same;  // the blob comes back as it went in
  } values[] = {
      {"empty", tagged(VT_EMPTY, {}), true},
      {"I1", tagged(VT_I1, {0x80}), true},
      {"UI1", tagged(VT_UI1, {0xFF}), true},
      {"I2", tagged(VT_I2, {1, 2}), true},
      {"UI2", tagged(VT_UI2, {3, 4}), true},
      {"BOOL", tagged(VT_BOOL, {0xFF, 0xFF}), true},
      {"I4", tagged(VT_I4, le32(-7)), true},
      {"UI4", tagged(VT_UI4, le32(7)), true},
      {"INT", tagged(VT_INT, le32(8)), true},
      {"UINT", tagged(VT_UINT, le32(9)), true},
      {"R4", tagged(VT_R4, le32(0x3F800000)), true},
      {"ERROR", tagged(VT_ERROR, le32(LONG(E_FAIL))), true},
      {"R8", tagged(VT_R8, bytes8), true},
      {"CY", tagged(VT_CY, bytes8), true},
      {"DATE", tagged(VT_DATE, bytes8), true},
      {"text", tagged(VT_BSTR, str("ab")), true},
      {"empty text", tagged(VT_BSTR, str("")), true},
      {"null text", tagged(VT_BSTR, str("<null>")), true},
      // A text value travels up to its first zero.
      {"text with a zero", tagged(VT_BSTR, le32(8) + Bytes{'a', 0, 0, 0, 'b', 0, 0, 0}), false},
      {"byte array", tagged(VT_ARRAY | VT_UI1, le32(0) + le32(2) + Bytes{1, 2, 3}), true},
      {"variant array", tagged(VT_ARRAY | VT_VARIANT, le32(1) + le32(1) + tagged(VT_I2, {5, 0})), true},
  };
  for (const auto &row : values) {
    SCOPED_TRACE(row.what);
    const Bytes record = le32(3) + str("C") + str("<null>") + row.value + le32(1) + le32(2) + le32(4) + str("no_calc");
    const Bytes blob = le32(4) + le32(static_cast<LONG>(record.size() + 8)) + record;
    Ref<IPerfCounter> counter;
    create(CLSID_PerfCounter, IID_IPerfCounter, counter);
    ASSERT_EQ(S_OK, putBlob(counter.p, blob));
    const Bytes plain = blobOf(counter.p);
    Ref<IPerfTransfer> transfer;
    ASSERT_EQ(S_OK, counter->QueryInterface(IID_IPerfTransfer, transfer.putVoid()));
    VARIANT framed;
    VariantInit(&framed);
    ASSERT_EQ(S_OK, transfer->CreateArray(&framed));
    ASSERT_EQ(S_OK, transfer->TransferOut(&framed));
    EXPECT_EQ(bytesOf(framed), plain);
    if (row.same) {
      EXPECT_EQ(blob, plain);
    }
    VariantClear(&framed);
  }
}

// A late-bound caller may pass any number for the blob's form: one that
// names no form gives the byte array, as the default form does.
TEST_F(Blob, UnknownFormFromALateBoundCallerGivesTheByteArray) {
  Ref<IPerfMgr> manager;
  buildExample(manager);
  LPOLESTR names[] = {const_cast<LPOLESTR>(OLESTR("MyBlob"))};
  DISPID member = 0;
  ASSERT_EQ(S_OK, manager->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member));
  VARIANT form, blob;
  VariantInit(&blob);
  V_VT(&form) = VT_I4;
  V_I4(&form) = 7;
  DISPPARAMS arguments = {&form, nullptr, 1, 0};
  ASSERT_EQ(S_OK, manager->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &arguments, &blob,
                                  nullptr, nullptr));
  EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(&blob));
  EXPECT_EQ(blobOf(manager.p), bytesOf(blob));
  VariantClear(&blob);
}

TEST_F(Blob, CopiesAndTheirChecks) {
  Ref<IPerfObject> object;
  create(CLSID_PerfObject, IID_IPerfObject, object);
  IPerfCounters *counters = countersOf(object.p);
  Ref<IPerfCounter> before;
  counters->AddNew(7, before.put());
  // A copy from itself rebuilds the node; members come back as new objects.
  ASSERT_EQ(S_OK, object->CopyFrom(object.p));
  Ref<IPerfCounter> after;
  ASSERT_EQ(S_OK, counters->get_Item(1, after.put()));
  ASSERT_NE(nullptr, after.p);
  EXPECT_NE(before.p, after.p);
  LONG id = 0;
  after->get_ID(&id);
  EXPECT_EQ(7, id);

  Ref<IPerfCounter> counter;
  create(CLSID_PerfCounter, IID_IPerfCounter, counter);
  EXPECT_EQ(E_INVALIDARG, counter->CopyFrom(object.p));
  EXPECT_EQ("Cannot perform this operation because the object being passed in is not valid.", takeError().description);
  EXPECT_EQ(E_INVALIDARG, counter->CopyFrom(nullptr));

  VARIANT number;
  VariantInit(&number);
  V_VT(&number) = VT_I4;
  EXPECT_EQ(E_INVALIDARG, counter->put_MyBlob(btAsBinaryArray, number));
  EXPECT_EQ("Invlalid blob type. Blob must be a string or an array of bytes.", takeError().description);

  // A blob replaces the ID.
  Ref<IPerfCounter> other;
  create(CLSID_PerfCounter, IID_IPerfCounter, other);
  other->put_ID(99);
  counter->put_ID(1);
  ASSERT_EQ(S_OK, putBlob(counter.p, blobOf(other.p)));
  counter->get_ID(&id);
  EXPECT_EQ(99, id);
}

// A blob read over a tree of the same shape: the nodes the host holds (an
// instance, a counter of another one) keep their values and leave the tree,
// which then reads exactly the blob; a blob damaged at its very end gives
// the same error and the same tree over the old tree as in a new manager.
TEST_F(Blob, ReadOverATreeLeavesWhatTheHostHoldsAlone) {
  Ref<IPerfMgr> source, target, empty;
  for (Ref<IPerfMgr> *made : {&source, &target, &empty}) create(CLSID_PerfMgr, IID_IPerfMgr, *made);
  buildSample(source.p);
  Ref<IPerfObject> requests;
  objectsOf(source.p)->get_ItemByID(2, requests.put());
  for (const char *name : {"alpha", "beta"}) setValue(counter(instance(requests.p, name), 8), "I4:3");
  ASSERT_EQ(S_OK, putBlob(target.p, blobOf(source.p)));

  Ref<IPerfObject> targetRequests;
  objectsOf(target.p)->get_ItemByID(2, targetRequests.put());
  Ref<IPerfInstance> alpha;
  Ref<IPerfCounter> betaHandled;
  (alpha.p = instance(targetRequests.p, "alpha"))->AddRef();
  (betaHandled.p = counter(instance(targetRequests.p, "beta"), 4))->AddRef();
  setValue(counter(instance(requests.p, "alpha"), 4), "I4:555");
  setValue(counter(instance(requests.p, "beta"), 4), "I4:777");
  const Bytes changed = blobOf(source.p);
  ASSERT_EQ(S_OK, putBlob(target.p, changed));
  EXPECT_EQ(changed, blobOf(target.p));
  EXPECT_EQ("I4:100", valueOf(alpha.p, 4));
  EXPECT_EQ("I4:101", valueOf(betaHandled.p));
  objectsOf(target.p)->get_ItemByID(2, targetRequests.put());
  EXPECT_NE(alpha.p, instance(targetRequests.p, "alpha"));
  EXPECT_NE(betaHandled.p, counter(instance(targetRequests.p, "beta"), 4));

  // The cursor field goes back to the start, so that the read runs into the cut.
  const Bytes cut =
      Bytes(changed.begin(), changed.begin() + 4) + le32(0) + Bytes(changed.begin() + 8, changed.end() - 3);
  EXPECT_EQ(E_FAIL, putBlob(target.p, cut));
  const ErrorSeen overTree = takeError();
  EXPECT_EQ(E_FAIL, putBlob(empty.p, cut));
  EXPECT_EQ(takeError().description, overTree.description);
  EXPECT_EQ(dump(empty.p), dump(target.p));
  EXPECT_EQ(blobOf(empty.p), blobOf(target.p));
}

// A read stores once each text its records repeat (every instance's
// counters carry their template's name and help), and whatever later writes
// over one of them, a read in place or a put, changes that field alone.
TEST_F(Blob, TextsABlobRepeatsStayEachFieldsOwn) {
  Ref<IPerfMgr> source, target;
  for (Ref<IPerfMgr> *made : {&source, &target}) create(CLSID_PerfMgr, IID_IPerfMgr, *made);
  buildSample(source.p);
  ASSERT_EQ(S_OK, putBlob(target.p, blobOf(source.p)));
  ASSERT_EQ(dump(source.p), dump(target.p));

  Ref<IPerfObject> requests;
  objectsOf(source.p)->get_ItemByID(2, requests.put());
  // Texts of the same length, which a text a field held alone would take in place.
  TestBstr handler("Handler"), otherHelp("Requests the server refused");
  counter(instance(requests.p, "alpha"), 4)->put_Name(handler.value);
  counter(instance(requests.p, "beta"), 4)->put_Help(otherHelp.value);
  ASSERT_EQ(S_OK, putBlob(target.p, blobOf(source.p)));
  EXPECT_EQ(dump(source.p), dump(target.p));

  Ref<IPerfObject> copied;
  objectsOf(target.p)->get_ItemByID(2, copied.put());
  TestBstr renamed("Served");
  counter(instance(copied.p, "_Total"), 4)->put_Name(renamed.value);
  counter(instance(requests.p, "_Total"), 4)->put_Name(renamed.value);
  EXPECT_EQ(dump(source.p), dump(target.p));
  const auto nameOf = [](IPerfCounter *c) { return readText([&](BSTR *t) { return c->get_Name(t); }); };
  EXPECT_EQ("Handled", nameOf(counter(copied.p, 4)));
  EXPECT_EQ("Handler", nameOf(counter(instance(copied.p, "alpha"), 4)));
  EXPECT_EQ("Handled", nameOf(counter(instance(copied.p, "beta"), 4)));

  // More distinct texts than a read keeps at once: 100 instances with names
  // of their own, whose counters repeat the template's texts in between.
  for (int i = 0; i < 100; ++i) instance(requests.p, "worker " + std::to_string(i));
  Ref<IPerfMgr> fresh;
  create(CLSID_PerfMgr, IID_IPerfMgr, fresh);
  ASSERT_EQ(S_OK, putBlob(fresh.p, blobOf(source.p)));
  EXPECT_EQ(dump(source.p), dump(fresh.p));
  ASSERT_EQ(S_OK, putBlob(target.p, blobOf(source.p)));
  EXPECT_EQ(dump(source.p), dump(target.p));

  // A read that stops half-way lets go of what it shared as well as of what
  // it made: the tree holds what it read, and the next read all of it.
  const Bytes whole = blobOf(source.p);
  const Bytes cut = Bytes(whole.begin(), whole.begin() + 4) + le32(0) + Bytes(whole.begin() + 8, whole.end() - 3);
  EXPECT_EQ(E_FAIL, putBlob(target.p, cut));
  takeError();
  ASSERT_EQ(S_OK, putBlob(target.p, whole));
  EXPECT_EQ(dump(source.p), dump(target.p));
}

TEST_F(Blob, DamagedBlobs) {
  Ref<IPerfCounters> counters;
  create(CLSID_PerfCounters, IID_IPerfCounters, counters);
  Ref<IPerfCounter> one;
  create(CLSID_PerfCounter, IID_IPerfCounter, one);
  one->put_ID(4);
  const Bytes whole = blobOf(one.p), record(whole.begin() + 8, whole.end());

  // Two records with the same ID are both taken.
  ASSERT_EQ(S_OK, putBlob(counters.p, le32(4) + le32(0) + le32(2) + record + record));
  EXPECT_EQ(2, countOf(counters.p));

  // A count of 3 over two records fails on the third and leaves two members.
  EXPECT_EQ(E_FAIL, putBlob(counters.p, le32(4) + le32(0) + le32(3) + record + record));
  EXPECT_EQ("Invalid internal condition", takeError().description);
  EXPECT_EQ(2, countOf(counters.p));

  // A record cut short fails with the read that runs out of room; the
  // members before it stay built (there is no rollback).
  const Bytes shortened(record.begin(), record.end() - 2);
  EXPECT_EQ(E_FAIL, putBlob(counters.p, le32(4) + le32(0) + le32(3) + record + record + shortened));
  EXPECT_EQ("Invalid internal condition", takeError().description);
  for (LONG index : {1, 2}) {
    Ref<IPerfCounter> built;
    ASSERT_EQ(S_OK, counters->get_Item(index, built.put()));
    LONG builtId = 0;
    built->get_ID(&builtId);
    EXPECT_EQ(4, builtId);
  }

  // Extra bytes after the record are left alone; the cursor stops after the record.
  const Bytes padded = le32(4) + le32(0) + le32(1) + record + Bytes{1, 2, 3};
  VARIANT extra = arrayOf(padded);
  ASSERT_EQ(S_OK, counters->put_MyBlob(btAsBinaryArray, extra));
  const Bytes after = bytesOf(extra);
  EXPECT_EQ(le32(static_cast<LONG>(padded.size() - 3)), Bytes(after.begin() + 4, after.begin() + 8));
  VariantClear(&extra);

  // An empty collection is its header and a count of 0.
  ASSERT_EQ(S_OK, counters->RemoveAll());
  EXPECT_EQ(le32(4) + le32(12) + le32(0), blobOf(counters.p));

  // A string whose first four bytes read 1000 is refused by the token check.
  OLECHAR units[] = {1000, 0, 0, 0, 0, 0};
  TestBstr notABlob(units, 6);
  VARIANT text;
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = notABlob.value;
  EXPECT_EQ(E_FAIL, counters->put_MyBlob(btAsString, text));
  EXPECT_EQ("Invalid CTran Array. 1st byte token validation failed.", takeError().description);
}

}  // namespace
