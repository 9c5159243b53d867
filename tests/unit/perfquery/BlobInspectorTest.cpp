// perfquery --blob: blobs read through the registered component, shown as a
// table and as JSON, whole and damaged.
#include "ComponentFixture.h"
#include "RunProgram.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BlobInspector.h"
#include "BlobReport.h"
#include "Utf8Text.h"

namespace {

using perfquery::BlobClass;
using perfquery::BlobInspection;
using perfquery::Format;
using Bytes = std::vector<BYTE>;

Bytes le32(LONG value) { return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}; }
Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// A string record of an ASCII text: its byte length with the terminator,
// the UTF-16 units, the terminator.
Bytes text(const std::string &ascii) {
  Bytes units;
  for (char c : ascii) units = units + Bytes{BYTE(c), 0};
  return le32(LONG(units.size() + 2)) + units + Bytes{0, 0};
}

// A manager with ID 1, device Svc, polling 900, one object
// (ID 2, Obj, no help, time-out 0, both flags false) whose template holds one
// counter (ID 3, C, no help, VT_I4 5, scale 0, type 65536, size 4, "no_calc")
// and which has no instances: 122 bytes, cursor at the end.
Bytes oneCounterManagerBlob() {
  const Bytes counter =
      le32(3) + text("C") + le32(0) + Bytes{3, 0} + le32(5) + le32(0) + le32(65536) + le32(4) + text("no_calc");
  const Bytes object = le32(2) + text("Obj") + le32(0) + le32(0) + Bytes{0, 0, 0, 0} + le32(1) + counter + le32(0);
  const Bytes payload = le32(1) + text("Svc") + le32(900) + le32(1) + object;
  return le32(4) + le32(LONG(payload.size() + 8)) + payload;
}

const char *const ManagerTable =
    "manager blob, 122 bytes, token 4, cursor 122\n"
    "offset     end  record\n"
    "     8     122  PerfMgr  ID=1  DeviceName=\"Svc\"  InstanceCleannupPolling=900\n"
    "    28     122    PerfObjects  Count=1\n"
    "    32     122      PerfObject  ID=2  Name=\"Obj\"  Help=\"\"  InstanceTimeout=0  HasInstances=false  "
    "AutoCreateInstanceTotal=false\n"
    "    60     118        PerfCounters  Count=1\n"
    "    64     118          PerfCounter  ID=3  Name=\"C\"  Help=\"\"  Value=VT_I4:5  DefaultScale=0  "
    "CounterType=65536  CounterSize=4  AutoCalcInstanceTotal=\"no_calc\"\n"
    "   118     122        PerfInstances  Count=0\n"
    "read whole, to the blob's end at 122\n";

const char *const ManagerJson =
    "{\"length\": 122, \"token\": 4, \"cursor\": 122, \"putStart\": 8, \"class\": \"manager\", \"classGuessed\": "
    "true, \"root\":\n"
    " {\"offset\": 8, \"end\": 122, \"record\": \"PerfMgr\", \"fields\": {\"ID\": 1, \"DeviceName\": \"Svc\", "
    "\"InstanceCleannupPolling\": 900}, \"children\": [\n"
    "  {\"offset\": 28, \"end\": 122, \"record\": \"PerfObjects\", \"fields\": {\"Count\": 1}, \"children\": [\n"
    "   {\"offset\": 32, \"end\": 122, \"record\": \"PerfObject\", \"fields\": {\"ID\": 2, \"Name\": \"Obj\", "
    "\"Help\": \"\", \"InstanceTimeout\": 0, \"HasInstances\": false, \"AutoCreateInstanceTotal\": false}, "
    "\"children\": [\n"
    "    {\"offset\": 60, \"end\": 118, \"record\": \"PerfCounters\", \"fields\": {\"Count\": 1}, \"children\": [\n"
    "     {\"offset\": 64, \"end\": 118, \"record\": \"PerfCounter\", \"fields\": {\"ID\": 3, \"Name\": \"C\", "
    "\"Help\": \"\", \"Value\": 5, \"ValueType\": \"VT_I4\", \"DefaultScale\": 0, \"CounterType\": 65536, "
    "\"CounterSize\": 4, \"AutoCalcInstanceTotal\": \"no_calc\"}}\n"
    "    ]},\n"
    "    {\"offset\": 118, \"end\": 122, \"record\": \"PerfInstances\", \"fields\": {\"Count\": 0}}\n"
    "   ]}\n"
    "  ]}\n"
    " ]}\n"
    ", \"error\": null}\n";

const char *const CutTable =
    "manager blob, 100 bytes, token 4, cursor 122 (MyBlob put would start reading at 122)\n"
    "offset     end  record\n"
    "     8       -  PerfMgr  ID=1  DeviceName=\"Svc\"  InstanceCleannupPolling=900\n"
    "    28       -    PerfObjects  Count=1\n"
    "    32       -      PerfObject  ID=2  Name=\"Obj\"  Help=\"\"  InstanceTimeout=0  HasInstances=false  "
    "AutoCreateInstanceTotal=false\n"
    "    60       -        PerfCounters  Count=1\n"
    "    64       -          PerfCounter  cannot be read: Invalid internal condition (0x80004005), reading at offset "
    "98\n"
    "damaged: the PerfCounter record at offset 64 cannot be read: Invalid internal condition (0x80004005), reading at "
    "offset 98\n";
const char *const CutJson =
    "{\"length\": 100, \"token\": 4, \"cursor\": 122, \"putStart\": 122, \"class\": \"manager\", \"classGuessed\": "
    "false, \"root\":\n"
    " {\"offset\": 8, \"record\": \"PerfMgr\", \"fields\": {\"ID\": 1, \"DeviceName\": \"Svc\", "
    "\"InstanceCleannupPolling\": 900}, \"children\": [\n"
    "  {\"offset\": 28, \"record\": \"PerfObjects\", \"fields\": {\"Count\": 1}, \"children\": [\n"
    "   {\"offset\": 32, \"record\": \"PerfObject\", \"fields\": {\"ID\": 2, \"Name\": \"Obj\", \"Help\": \"\", "
    "\"InstanceTimeout\": 0, \"HasInstances\": false, \"AutoCreateInstanceTotal\": false}, \"children\": [\n"
    "    {\"offset\": 60, \"record\": \"PerfCounters\", \"fields\": {\"Count\": 1}, \"children\": [\n"
    "     {\"offset\": 64, \"record\": \"PerfCounter\", \"error\": {\"result\": \"0x80004005\", \"description\": "
    "\"Invalid internal condition\", \"readAt\": 98}}\n"
    "    ]}\n"
    "   ]}\n"
    "  ]}\n"
    " ]}\n"
    ", \"error\": {\"offset\": 64, \"record\": \"PerfCounter\", \"result\": \"0x80004005\", \"description\": \"Invalid "
    "internal condition\", \"readAt\": 98}}\n";
// The last lines of its table: the counter and what is wrong with it.
const char *const PastEndTail =
    "    64       -          PerfCounter  cannot be read: Invalid internal condition (0x80004005), reading at offset "
    "72\n"
    "damaged: the PerfCounter record at offset 64 cannot be read: Invalid internal condition (0x80004005), reading at "
    "offset 72\n";
const char *const EndsEarlyTable =
    "manager blob, 28 bytes, token 4, cursor 122 (MyBlob put would start reading at 122)\n"
    "offset     end  record\n"
    "     8       -  PerfMgr  ID=1  DeviceName=\"Svc\"  InstanceCleannupPolling=900\n"
    "    28       -    PerfObjects  cannot be read: Invalid internal condition (0x80004005), reading at offset 28\n"
    "damaged: the PerfObjects record at offset 28 cannot be read: Invalid internal condition (0x80004005), reading at "
    "offset 28\n";
const char *const ForeignTable =
    "manager blob, 122 bytes, token 1000, cursor 122\n"
    "offset     end  record\n"
    "     8       -  PerfMgr  cannot be read: Invalid CTran Array. 1st byte token validation failed. (0x80004005), "
    "reading at offset 8\n"
    "damaged: the PerfMgr record at offset 8 cannot be read: Invalid CTran Array. 1st byte token validation failed. "
    "(0x80004005), reading at offset 8\n";
const char *const ShortTable =
    "manager blob, 5 bytes, shorter than its header\n"
    "offset     end  record\n"
    "     8       -  PerfMgr  cannot be read: Invalid internal condition (0x80004005), reading at offset 8\n"
    "damaged: the PerfMgr record at offset 8 cannot be read: Invalid internal condition (0x80004005), reading at "
    "offset 8\n";
const char *const CounterTable =
    "counter blob (the class that reads it best), 88 bytes, token 4, cursor 88\n"
    "offset     end  record\n"
    "     8      88  PerfCounter  ID=4  Name=\"Requests/sec\"  Help=\"\"  Value=VT_R8:1.5  DefaultScale=0  "
    "CounterType=65536  CounterSize=4  AutoCalcInstanceTotal=\"no_calc\"\n"
    "read whole, to the blob's end at 88\n";
const char *const InstanceTable =
    "instance blob (the class that reads it best), 183 bytes, token 4, cursor 183\n"
    "offset     end  record\n"
    "     8     183  PerfInstance  ID=0  Name=\"client-3\"  TimeStamp=2024-05-31 12:00:00.000\n"
    "    42     183    PerfCounters  Count=2\n"
    "    46     126      PerfCounter  ID=4  Name=\"Requests/sec\"  Help=\"\"  Value=VT_R8:1.5  DefaultScale=0  "
    "CounterType=65536  CounterSize=4  AutoCalcInstanceTotal=\"no_calc\"\n"
    "   126     183      PerfCounter  ID=6  Name=\"\"  Help=\"\"  Value=VT_ARRAY|VT_UI1:[0..2] 01 02 AB  "
    "DefaultScale=0  CounterType=65536  CounterSize=4  AutoCalcInstanceTotal=\"no_calc\"\n"
    "read whole, to the blob's end at 183\n";

class BlobInspector : public ComponentFixture {
 protected:
  static BlobInspection inspect(const Bytes &bytes, std::optional<BlobClass> blobClass = std::nullopt) {
    BlobInspection inspection;
    std::string problem;
    EXPECT_TRUE(perfquery::inspectBlob(bytes, blobClass, inspection, problem)) << problem;
    return inspection;
  }

  static std::string temporaryFile(const std::string &name, const Bytes &bytes) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + name;
    EXPECT_TRUE(writeFileText(path, std::string(bytes.begin(), bytes.end())));
    return path;
  }

  // The blob a host takes of a node: MyBlob's byte array.
  template <typename I> static Bytes blobOf(I *node) {
    VARIANT blob;
    VariantInit(&blob);
    EXPECT_EQ(S_OK, node->get_MyBlob(btAsBinaryArray, &blob));
    Bytes bytes;
    if (V_VT(&blob) == (VT_ARRAY | VT_UI1)) {
      const BYTE *data = static_cast<const BYTE *>(V_ARRAY(&blob)->pvData);
      bytes.assign(data, data + V_ARRAY(&blob)->rgsabound[0].cElements);
    }
    VariantClear(&blob);
    return bytes;
  }
};

TEST_F(BlobInspector, ShowsAManagerBlobRecordByRecord) {
  const Bytes manager = oneCounterManagerBlob();
  ASSERT_EQ(122u, manager.size());
  // No other class reads these bytes to their end.
  const BlobInspection guessed = inspect(manager);
  EXPECT_EQ(nullptr, guessed.damaged());
  EXPECT_EQ(ManagerJson, perfquery::blobReport(Format::Json, guessed));
  EXPECT_EQ(ManagerTable, perfquery::blobReport(Format::Table, inspect(manager, BlobClass::Manager)));

  // The string form, as a script writes it: UTF-16 text after FF FE.
  Bytes read;
  std::string problem;
  const std::string path = temporaryFile("blob-inspector-string.blob", Bytes{0xFF, 0xFE} + manager);
  ASSERT_TRUE(perfquery::readBlobFile(commandline::fromUtf8(path), read, problem)) << problem;
  EXPECT_TRUE(read == manager);
  DeleteFileA(path.c_str());
}

TEST_F(BlobInspector, ShowsADamagedBlobUpToItsFirstBadRecord) {
  // Cut off inside the counter's keyword, whose length cannot be read; the
  // cursor still says 122, so MyBlob put would not even start after the
  // header.
  const Bytes manager = oneCounterManagerBlob();
  const BlobInspection cut = inspect(Bytes(manager.begin(), manager.begin() + 100), BlobClass::Manager);
  ASSERT_NE(nullptr, cut.damaged());
  EXPECT_EQ(64, cut.damaged()->offset);
  EXPECT_EQ(CutTable, perfquery::blobReport(Format::Table, cut));
  EXPECT_EQ(CutJson, perfquery::blobReport(Format::Json, cut));

  // The counter's name claims 255 bytes: its length is read, its text is not.
  Bytes pastEnd = manager;
  pastEnd[68] = 0xFF;
  const std::string pastEndTable = perfquery::blobReport(Format::Table, inspect(pastEnd, BlobClass::Manager));
  const std::string tail = PastEndTail;
  EXPECT_TRUE(pastEndTable.size() > tail.size() && pastEndTable.substr(pastEndTable.size() - tail.size()) == tail)
      << pastEndTable;

  // A blob that ends where the manager's objects would begin, one with
  // another writer's token, and one too short for its header.
  EXPECT_EQ(EndsEarlyTable, perfquery::blobReport(Format::Table, inspect(Bytes(manager.begin(), manager.begin() + 28),
                                                                         BlobClass::Manager)));
  Bytes foreign = manager;
  foreign[0] = 0xE8, foreign[1] = 0x03;
  EXPECT_EQ(ForeignTable, perfquery::blobReport(Format::Table, inspect(foreign, BlobClass::Manager)));
  EXPECT_EQ(ShortTable, perfquery::blobReport(Format::Table, inspect(Bytes{4, 0, 0, 0, 0}, BlobClass::Manager)));
}

// Blobs of a counter and of an instance as a host takes them, classes guessed.
TEST_F(BlobInspector, ShowsCounterAndInstanceBlobsAHostTakes) {
  Ref<IPerfInstance> instance;
  create(CLSID_PerfInstance, IID_IPerfInstance, instance);
  TestBstr name("client-3");
  ASSERT_EQ(S_OK, instance->put_Name(name.value));
  ASSERT_EQ(S_OK, instance->put_TimeStamp(45443.5));  // 2024-05-31 12:00
  Ref<IPerfCounters> counters;
  ASSERT_EQ(S_OK, instance->get_PerfCounters(counters.put()));
  Ref<IPerfCounter> rate, bytes;
  ASSERT_EQ(S_OK, counters->AddNew(4, rate.put()));
  ASSERT_EQ(S_OK, counters->AddNew(6, bytes.put()));
  TestBstr rateName("Requests/sec");
  ASSERT_EQ(S_OK, rate->put_Name(rateName.value));
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_R8;
  V_R8(&value) = 1.5;
  ASSERT_EQ(S_OK, rate->put_Value(value));
  V_VT(&value) = VT_ARRAY | VT_UI1;
  V_ARRAY(&value) = SafeArrayCreateVector(VT_UI1, 0, 3);
  std::memcpy(V_ARRAY(&value)->pvData, "\x01\x02\xAB", 3);
  ASSERT_EQ(S_OK, bytes->put_Value(value));
  VariantClear(&value);

  EXPECT_EQ(CounterTable, perfquery::blobReport(Format::Table, inspect(blobOf(rate.p))));
  EXPECT_EQ(InstanceTable, perfquery::blobReport(Format::Table, inspect(blobOf(instance.p))));
}

// The program: a blob file read whole, and a damaged one, which fails it.
TEST_F(BlobInspector, PerfQueryShowsABlobFileAndFailsForADamagedOne) {
  const Bytes manager = oneCounterManagerBlob();
  const std::string whole = temporaryFile("blob-inspector-whole.blob", manager);
  const std::string cut = temporaryFile("blob-inspector-cut.blob", Bytes(manager.begin(), manager.begin() + 100));
  // Standard output as its lines, without the carriage returns a Windows
  // console adds.
  auto run = [](const std::string &arguments, std::string &output) {
    output.clear();
    const int code = runProgram(std::string(PERFQUERY_PROGRAM) + " " + arguments, output);
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    return code;
  };
  std::string output;
  EXPECT_EQ(0, run("--blob " + whole + " -f JSON", output));
  EXPECT_EQ(ManagerJson, output);
  EXPECT_EQ(1, run("--class manager --blob " + cut, output));
  EXPECT_EQ(CutTable, output);
  EXPECT_EQ(2, run("--blob " + whole + " -f CSV", output));
  EXPECT_NE(std::string::npos, output.find("--blob shows TABLE or JSON")) << output;
  const std::string missing = whole + ".missing";
  EXPECT_EQ(1, run("--blob " + missing, output));
  EXPECT_NE(std::string::npos, output.find("perfquery: cannot open \"" + missing + "\": ")) << output;
#ifndef _WIN32
  // Over a platform state of its own, where nothing is registered, the
  // program cannot make the nodes that read the records, and says why.
  char folder[] = "/tmp/blob-inspector-root-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder));
  const char *root = std::getenv("WINPLATFORM_ROOT");
  const std::string kept = root != nullptr ? root : "";
  setenv("WINPLATFORM_ROOT", folder, 1);
  const int unregistered = run("--blob " + whole, output);
  if (root != nullptr)
    setenv("WINPLATFORM_ROOT", kept.c_str(), 1);
  else
    unsetenv("WINPLATFORM_ROOT");
  EXPECT_EQ(1, unregistered);
  EXPECT_EQ(
      "perfquery: cannot create the component's PerfMgr (error 0x80040154: Class not registered); is "
      "rvZedaZuvivurAzodav registered?\n",
      output);
  std::system(("rm -rf " + std::string(folder)).c_str());
#endif
  DeleteFileA(whole.c_str());
  DeleteFileA(cut.c_str());
}

}  // namespace
