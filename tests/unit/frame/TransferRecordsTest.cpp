// The records a blob transfer writes, through the component's own classes:
// an error that crosses nodes is logged once by each frame it crosses (the
// buffer's operation, each node's ReadCmnData or TransferIn, each
// collection's TransferIn) and twice by the member that reports it; each
// record names where the error stood when that frame caught it. At trace
// level 5 each operation records its entry once.
//
// The trace settings are read once per process: the first test runs
// without them (no entry records), the second reads a level of 5.
#include "DoublesFixture.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes le32(LONG value) { return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}; }

// A blob as a caller hands it in: token 4, cursor 0, then the payload.
VARIANT blobOf(const Bytes &payload) {
  const Bytes bytes = le32(4) + le32(0) + payload;
  VARIANT blob;
  VariantInit(&blob);
  V_VT(&blob) = VT_ARRAY | VT_UI1;
  V_ARRAY(&blob) = SafeArrayCreateVector(VT_UI1, 0, ULONG(bytes.size()));
  std::memcpy(V_ARRAY(&blob)->pvData, bytes.data(), bytes.size());
  return blob;
}

// The records of each node's own fields, up to where its children begin
// (strings null, numbers 0): an instance's ID, name and time stamp; an
// object's ID, name, help, time-out and two flags; a manager's ID, device
// name and polling interval.
const Bytes instanceFields = le32(1) + le32(0) + Bytes(8);
const Bytes objectFields = le32(2) + le32(0) + le32(0) + le32(0) + Bytes(4);
const Bytes managerFields = le32(3) + le32(0) + le32(0);
// One counter whose record is cut off after its first byte: its ID cannot
// be read.
const Bytes oneCutCounter = le32(1) + Bytes(1);

class TransferRecords : public DoublesFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles->loaded());
    settings = {};
    settings.errorLogAvailable = TRUE;
    doubles->reset(settings);
    takeError();
  }

  // "File:Procedure" of every error record written since the last reset.
  static std::vector<std::string> records() {
    std::vector<std::string> out;
    for (const LogErrorCall &call : doubles->logErrorCalls())
      out.push_back(DoublesHarness::text(call.file) + ":" + DoublesHarness::text(call.procedure));
    return out;
  }
  static std::vector<LONG> lines() {
    std::vector<LONG> out;
    for (const LogErrorCall &call : doubles->logErrorCalls()) out.push_back(call.line);
    return out;
  }
  // The operation names of the entry records written since the last reset.
  static std::vector<std::string> entries() {
    std::vector<std::string> out;
    for (const TraceCall &call : doubles->traceCalls())
      if (call.level == 5) out.push_back(DoublesHarness::text(call.description));
    return out;
  }
};

TEST_F(TransferRecords, AFailureIsLoggedOnceByEachFrameItCrosses) {
  // Where a cut-off counter ID is first raised and first logged.
  const std::vector<std::string> inCounter = {"CTran:Read", "CTran:Read", "PerfCounter:ReadCmnData"};
  struct Case {
    const char *node;
    const CLSID *clsid;
    IID iid;
    Bytes payload;
    std::vector<std::string> above;  // the records after inCounter's
  };
  const Case cases[] = {
      {"counter", &CLSID_PerfCounter, IID_IPerfCounter, Bytes(1), {"PerfCounter:TransferIn"}},
      {"instance",
       &CLSID_PerfInstance,
       IID_IPerfInstance,
       instanceFields + oneCutCounter,
       {"PerfCounter:TransferIn", "TRVPObjectImpl:TransferIn", "PerfInstance:TransferIn"}},
      {"object",
       &CLSID_PerfObject,
       IID_IPerfObject,
       objectFields + le32(0) + le32(1) + instanceFields + oneCutCounter,
       {"PerfCounter:TransferIn", "TRVPObjectImpl:TransferIn", "PerfInstance:TransferIn", "TRVPObjectImpl:TransferIn",
        "PerfObject:TransferIn"}},
      {"manager",
       &CLSID_PerfMgr,
       IID_IPerfMgr,
       managerFields + le32(1) + objectFields + le32(0) + le32(1) + instanceFields + oneCutCounter,
       {"PerfCounter:TransferIn", "TRVPObjectImpl:TransferIn", "PerfInstance:TransferIn", "TRVPObjectImpl:TransferIn",
        "PerfObject:TransferIn", "TRVPObjectImpl:TransferIn", "PerfMgr:TransferIn"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.node);
    Ref<IPerfCommon> node;
    create(*c.clsid, IID_IPerfCommon, node);
    doubles->reset(settings);
    VARIANT blob = blobOf(c.payload);
    EXPECT_EQ(E_FAIL, node->put_MyBlob(btAsBinaryArray, blob));
    VariantClear(&blob);

    // The frames the error crossed, then the member twice: the error as it
    // arrived, then the member's own report.
    std::vector<std::string> expected = inCounter;
    expected.insert(expected.end(), c.above.begin(), c.above.end());
    expected.push_back("TRVPObjectImpl:put_MyBlob");
    EXPECT_EQ(expected, records());
    // The two buffer records are the raise and the buffer's own frame.
    const std::vector<LONG> at = lines();
    ASSERT_GE(at.size(), 2u);
    EXPECT_NE(at[0], at[1]);
    const ErrorSeen seen = takeError();
    EXPECT_EQ("Invalid internal condition", seen.description);
  }

  // The same through the string form of a blob, as a script hands it in.
  {
    Ref<IPerfCounter> counter;
    create(CLSID_PerfCounter, IID_IPerfCounter, counter);
    doubles->reset(settings);
    const OLECHAR units[] = {4, 0, 0, 0, 7};
    VARIANT text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocStringLen(units, 5);
    EXPECT_EQ(E_FAIL, counter->put_MyBlob(btAsString, text));
    VariantClear(&text);
    EXPECT_EQ((std::vector<std::string>{"CTran:Read", "CTran:Read", "PerfCounter:ReadCmnData", "PerfCounter:TransferIn",
                                        "TRVPObjectImpl:put_MyBlob"}),
              records());
  }

  // A write that runs out of room in a caller's blob: the last field of a
  // manager's deepest counter, its keyword. Called through the transfer
  // interface, as a node calls another, the failure comes back as the
  // result with its error information, logged once per frame and no more.
  {
    Ref<IPerfMgr> manager;
    create(CLSID_PerfMgr, IID_IPerfMgr, manager);
    Ref<IPerfObjects> objects;
    ASSERT_EQ(S_OK, manager->get_PerfObjects(objects.put()));
    Ref<IPerfObject> object;
    ASSERT_EQ(S_OK, objects->AddNew(1, object.put()));
    Ref<IPerfInstances> instances;
    ASSERT_EQ(S_OK, object->get_PerfInstances(instances.put()));
    Ref<IPerfInstance> instance;
    ASSERT_EQ(S_OK, instances->AddNew(1, instance.put()));
    Ref<IPerfCounters> counters;
    ASSERT_EQ(S_OK, instance->get_PerfCounters(counters.put()));
    Ref<IPerfCounter> counter;
    ASSERT_EQ(S_OK, counters->AddNew(1, counter.put()));

    Ref<IPerfTransfer> transfer;
    ASSERT_EQ(S_OK, manager->QueryInterface(IID_IPerfTransfer, transfer.putVoid()));
    LONG size = 0;
    ASSERT_EQ(S_OK, transfer->GetSize(&size));
    doubles->reset(settings);
    VARIANT blob = blobOf(Bytes(size - 1));
    EXPECT_EQ(E_FAIL, transfer->TransferOut(&blob));
    VariantClear(&blob);
    EXPECT_EQ((std::vector<std::string>{"CTran:WriteString", "CTran:WriteString", "PerfCounter:TransferOut",
                                        "TRVPObjectImpl:TransferOut", "PerfInstance:TransferOut",
                                        "TRVPObjectImpl:TransferOut", "PerfObject:TransferOut",
                                        "TRVPObjectImpl:TransferOut"}),
              records());
    const ErrorSeen seen = takeError();
    EXPECT_TRUE(seen.present);
    EXPECT_EQ("Invalid internal condition", seen.description);
  }
}

TEST_F(TransferRecords, EachOperationRecordsItsEntryOnce) {
  settings.traceAvailable = TRUE;
  settings.traceLevel = 5;
  doubles->reset(settings);

  // A whole counter: ID, name, help, value, scale, type, size, keyword.
  Ref<IPerfCounter> source;
  create(CLSID_PerfCounter, IID_IPerfCounter, source);
  VARIANT blob;
  VariantInit(&blob);
  ASSERT_EQ(S_OK, source->get_MyBlob(btAsBinaryArray, &blob));
  const std::vector<std::string> counterRead = {"TransferIn", "CTran",      "ReadCmnData", "Read",
                                                "ReadString", "ReadString", "ReadVariant", "Read",
                                                "Read",       "Read",       "ReadString",  "~CTran"};

  Ref<IPerfCounter> counter;
  create(CLSID_PerfCounter, IID_IPerfCounter, counter);
  doubles->reset(settings);
  ASSERT_EQ(S_OK, counter->put_MyBlob(btAsBinaryArray, blob));
  std::vector<std::string> expected = {"put_MyBlob"};
  expected.insert(expected.end(), counterRead.begin(), counterRead.end());
  EXPECT_EQ(expected, entries());
  VariantClear(&blob);

  // An instance holding one counter: its own fields, then its collection,
  // which empties itself, reads the count and makes each member with
  // AddNew before the member reads itself.
  Ref<IPerfInstance> instance;
  create(CLSID_PerfInstance, IID_IPerfInstance, instance);
  Ref<IPerfCounters> counters;
  ASSERT_EQ(S_OK, instance->get_PerfCounters(counters.put()));
  ASSERT_EQ(S_OK, counters->AddNew(1, counter.put()));
  ASSERT_EQ(S_OK, instance->get_MyBlob(btAsBinaryArray, &blob));
  doubles->reset(settings);
  ASSERT_EQ(S_OK, instance->put_MyBlob(btAsBinaryArray, blob));
  expected = {"put_MyBlob", "TransferIn", "CTran",     "ReadCmnData", "Read",   "ReadString", "Read",
              "TransferIn", "CTran",      "RemoveAll", "Read",        "AddNew", "Add"};
  expected.insert(expected.end(), counterRead.begin(), counterRead.end());
  expected.insert(expected.end(), {"~CTran", "~CTran"});
  EXPECT_EQ(expected, entries());
  VariantClear(&blob);
}

}  // namespace
