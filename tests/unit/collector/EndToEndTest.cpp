// The whole path a counter takes: a host loads and registers a definition
// file, sets values and publishes its tree; a reader in another process asks
// the system for performance data, which loads the collector through the
// Library value that Register wrote; the values it gets are the host's.
#include "RegistrationFixture.h"
#include "Trees.h"

#include <winperf.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PerfData.h"
#include "PerfReader.h"
#include "PublishedTree.h"

using namespace trees;

namespace {

const char Definition[] =
    "<PerfData headerFile=\"e2e.h\" iniFile=\"e2e.ini\" perfmonDLLFile=\"" COLLECTOR_MODULE
    "\" "
    "deviceName=\"%DEVICE%\" instanceCleannupPolling=\"0\">"
    "<Object name=\"E2E Sessions\" help=\"Open sessions\" hasInstances=\"true\" autoCreateInstanceTotal=\"true\" "
    "instanceTimeout=\"0\">"
    "<Counter name=\"Active\" help=\"Active sessions\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\" "
    "autoCalcInstanceTotal=\"sum\"/>"
    "<Counter name=\"Bytes\" help=\"Bytes sent\" defaultScale=\"-3\" counterType=\"PERF_COUNTER_BULK_COUNT\" "
    "autoCalcInstanceTotal=\"sum\"/></Object>"
    "<Object name=\"E2E Memory\" help=\"Memory in use\" hasInstances=\"false\" autoCreateInstanceTotal=\"false\" "
    "instanceTimeout=\"0\">"
    "<Counter name=\"Used\" help=\"Bytes used\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/></Object>"
    "</PerfData>";

const char Instructions[] = "RV_COLLECTOR_READER";

// One line per instance (or object without instances) of the objects whose
// name index the query text lists: "<object index> <instance> <values...>".
std::string describe(const perfdata::DataBlock &block, const std::vector<DWORD> &objects) {
  std::ostringstream out;
  for (const perfdata::Object &object : block.objects) {
    bool wanted = false;
    for (DWORD index : objects) wanted |= index == object.nameIndex;
    if (!wanted) continue;
    auto line = [&](const std::string &name, const perfdata::CounterBlock &counters) {
      out << object.nameIndex << " " << name;
      for (const perfdata::CounterDefinition &counter : object.counters) {
        LONGLONG value = 0;
        std::memcpy(&value, counters.bytes.data() + counter.counterOffset, counter.size);
        out << " " << value;
      }
      out << "\n";
    };
    if (!object.hasInstances()) line("-", object.counterBlock);
    for (const perfdata::Instance &instance : object.instances) line(narrow(instance.name.c_str()), instance.counters);
  }
  return out.str();
}

std::vector<DWORD> numbers(const std::string &text) {
  std::vector<DWORD> out;
  std::istringstream in(text);
  for (DWORD n; in >> n;) out.push_back(n);
  return out;
}

class CollectorEndToEnd : public RegistrationFixture {
 protected:
  void SetUp() override {
    prepare("collector", "RVCollectorE2E");
    writeDefinition(Definition);
    TestBstr from(folder);
    ASSERT_EQ(S_OK, manager->Load(from.value));
    ASSERT_EQ(S_OK, manager->Register(from.value));
  }
  void TearDown() override { removeAll({"e2e.h", "e2e.ini"}); }

  // What a reader in another process sees for `query`, limited to `objects`.
  static std::string readElsewhere(const std::string &query, const std::vector<DWORD> &objects) {
    std::string indices;
    for (DWORD index : objects) indices += std::to_string(index) + " ";
    std::string seen = std::string(std::getenv("TEMP") ? std::getenv("TEMP") : "/tmp") + "/rv-e2e-seen-" +
                       std::to_string(GetCurrentProcessId());
    EXPECT_EQ(0, ChildProcess::run("CollectorReader.DISABLED_Query", Instructions, query + "|" + indices + "|" + seen));
    std::string out;
    if (FILE *file = std::fopen(seen.c_str(), "rb")) {
      char chunk[4096];
      for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) out.append(chunk, n);
      std::fclose(file);
    }
    std::remove(seen.c_str());
    return out;
  }
};

}  // namespace

TEST_F(CollectorEndToEnd, AReaderInAnotherProcessSeesWhatTheHostPublished) {
  // The definition file numbers the objects 0 and 6, their counters 2, 4 and 8.
  Ref<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  Ref<IPerfObject> sessions, memory;
  objects->get_ItemByID(0, sessions.put());
  objects->get_ItemByID(6, memory.put());
  const DWORD base = nameBase(device);
  const std::vector<DWORD> ours = {base, base + 6};

  IPerfInstance *alpha = instance(sessions.p, "alpha"), *beta = instance(sessions.p, "beta");
  ASSERT_EQ(S_OK, manager->CreateTotalInstances());
  setValue(counter(alpha, 2), "I4:3");
  setValue(counter(alpha, 4), "R8:5e9");
  setValue(counter(beta, 2), "I4:4");
  setValue(counter(beta, 4), "R8:2.5");
  setValue(counter(memory.p, 8), "I4:42");
  ASSERT_EQ(S_OK, manager->CalcTotalInstances()) << takeError().description;

  rv::publishing::TreePublisher publisher(wide(device).c_str());
  ASSERT_EQ(S_OK, publisher.publish(manager.p));
  const std::string s = std::to_string(ours[0]), m = std::to_string(ours[1]);
  EXPECT_EQ(s + " alpha 3 5000000000\n" + s + " beta 4 3\n" + s + " _Total 7 5000000003\n" + m + " - 42\n",
            readElsewhere("Global", ours));

  // A change shows in the next query once it is published; one object by index.
  setValue(counter(beta, 2), "I4:40");
  ASSERT_EQ(S_OK, manager->CalcTotalInstances());
  ASSERT_EQ(S_OK, publisher.publish(manager.p));
  EXPECT_EQ(s + " alpha 3 5000000000\n" + s + " beta 40 3\n" + s + " _Total 43 5000000003\n", readElsewhere(s, ours));

  // Withdrawn: the service answers with no objects, and the query succeeds.
  publisher.withdraw();
  EXPECT_EQ("", readElsewhere("Global", ours));
}

// Two devices whose services name the same collector: the system cannot tell
// the collector which of them a call is for, yet every reader gets each
// device's objects once, with that host's values, and nothing of a device
// whose host is not running; merely registered, a device changes nothing.
TEST_F(CollectorEndToEnd, TwoDevicesOfOneCollectorShowEachObjectOnce) {
  const std::string second = device + "b", secondFolder = folder + "b";
  CreateDirectoryA(secondFolder.c_str(), nullptr);
  std::string definition = Definition;
  definition.replace(definition.find("%DEVICE%"), 8, second);
  ASSERT_TRUE(writeFileText(secondFolder + "\\RVCounters.xml", definition));
  Ref<IPerfMgr> other;
  create(CLSID_PerfMgr, IID_IPerfMgr, other);
  TestBstr from(secondFolder);
  ASSERT_EQ(S_OK, other->Load(from.value));
  ASSERT_EQ(S_OK, other->Register(from.value)) << takeError().description;

  // Each host's sessions object holds one instance named after it.
  auto publishing = [](IPerfMgr *host, const char *name, const char *value) {
    Ref<IPerfObjects> objects;
    host->get_PerfObjects(objects.put());
    Ref<IPerfObject> sessions;
    objects->get_ItemByID(0, sessions.put());
    setValue(counter(instance(sessions.p, name), 2), value);
  };
  publishing(manager.p, "first", "I4:11");
  publishing(other.p, "second", "I4:22");
  // Every sessions object of the block, named by its instances: the indices
  // differ by device, and under Wine (no names installed) by the collector.
  auto sessionsSeen = [&] {
    std::vector<BYTE> bytes;
    perfdata::PerfReader reader;
    EXPECT_EQ(ERROR_SUCCESS, reader.queryData(wide("Global").c_str(), bytes));
    perfdata::DataBlock block;
    std::string problem;
    EXPECT_TRUE(perfdata::parseDataBlock(bytes.data(), bytes.size(), block, problem)) << problem;
    std::string seen;
    for (const perfdata::Object &object : block.objects)
      for (const perfdata::Instance &instance : object.instances) {
        std::string name = narrow(instance.name.c_str());
        if (name == "first" || name == "second") {
          LONG value = 0;
          std::memcpy(&value, instance.counters.bytes.data() + object.counters[0].counterOffset, sizeof value);
          seen += name + "=" + std::to_string(value) + " ";
        }
      }
    return seen;
  };

  rv::publishing::TreePublisher firstPublisher(wide(device).c_str());
  ASSERT_EQ(S_OK, firstPublisher.publish(manager.p));
  EXPECT_EQ("first=11 ", sessionsSeen()) << "the second device is registered, its host not running";
  {
    rv::publishing::TreePublisher secondPublisher(wide(second).c_str());
    ASSERT_EQ(S_OK, secondPublisher.publish(other.p));
    EXPECT_EQ("first=11 second=22 ", sessionsSeen());
    firstPublisher.withdraw();
    EXPECT_EQ("second=22 ", sessionsSeen());
  }
  EXPECT_EQ("", sessionsSeen());

  DeleteFileA((secondFolder + "\\RVCounters.xml").c_str());
  for (const char *file : {"e2e.h", "e2e.ini"}) DeleteFileA((secondFolder + "\\" + file).c_str());
  RemoveDirectoryA(secondFolder.c_str());
  const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + second;
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, service.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, service.c_str());
}

// The reader's side, run as a child process by the test above.
TEST(CollectorReader, DISABLED_Query) {
  const char *instructions = std::getenv(Instructions);
  ASSERT_NE(nullptr, instructions);
  std::string text = instructions;
  size_t bar = text.find('|'), second = text.find('|', bar + 1);
  const std::string query = text.substr(0, bar), seen = text.substr(second + 1);
  std::vector<BYTE> bytes;
  {
    perfdata::PerfReader reader;
    ASSERT_EQ(ERROR_SUCCESS, reader.queryData(wide(query).c_str(), bytes));
  }
  perfdata::DataBlock block;
  std::string problem;
  ASSERT_TRUE(perfdata::parseDataBlock(bytes.data(), bytes.size(), block, problem)) << problem;
  std::string described = describe(block, numbers(text.substr(bar + 1, second - bar - 1)));
  FILE *file = std::fopen(seen.c_str(), "wb");
  ASSERT_NE(nullptr, file);
  std::fwrite(described.data(), 1, described.size(), file);
  std::fclose(file);
}
