// Performance data through HKEY_PERFORMANCE_DATA, provided by the test
// collector registered as services of the machine. The expectations are
// Wine's, except in the tests over the platform only, at the end.
#include "TestCollector.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../PlatformTestSupport.h"

namespace {

// The records and type codes are the 64-bit Windows ones on both targets.
static_assert(sizeof(PERF_DATA_BLOCK) == 88 && sizeof(PERF_OBJECT_TYPE) == 64 && sizeof(PERF_COUNTER_BLOCK) == 4);
static_assert(sizeof(PERF_COUNTER_DEFINITION) == 40 && sizeof(PERF_INSTANCE_DEFINITION) == 24);
static_assert(offsetof(PERF_DATA_BLOCK, SystemTime) == 36 && offsetof(PERF_DATA_BLOCK, PerfTime) == 56);
static_assert(offsetof(PERF_DATA_BLOCK, PerfTime100nSec) == 72 && offsetof(PERF_DATA_BLOCK, SystemNameOffset) == 84);
static_assert(offsetof(PERF_OBJECT_TYPE, ObjectNameTitle) == 16 && offsetof(PERF_OBJECT_TYPE, NumInstances) == 40);
static_assert(offsetof(PERF_OBJECT_TYPE, CodePage) == 44 && offsetof(PERF_OBJECT_TYPE, PerfFreq) == 56);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterHelpTitle) == 16);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == 36);
static_assert(offsetof(PERF_INSTANCE_DEFINITION, UniqueID) == 12 &&
              offsetof(PERF_INSTANCE_DEFINITION, NameLength) == 20);
static_assert(PERF_COUNTER_COUNTER == 0x10410400 && PERF_COUNTER_BULK_COUNT == 0x10410500);
static_assert(PERF_COUNTER_LARGE_RAWCOUNT == 0x00010100 && PERF_RAW_BASE == 0x40030403);
static_assert(PERF_100NSEC_TIMER == 0x20510500 && PERF_ELAPSED_TIME == 0x30240500);
static_assert(PERF_AVERAGE_BULK == 0x40020500 && PERF_NO_INSTANCES == -1 && PERF_DETAIL_WIZARD == 400);

// Wine 8 puts the first object sizeof(PERF_DATA_BLOCK) bytes past
// HeaderLength, and writes as many bytes past the size it reports; Windows,
// and so the platform, put it at HeaderLength.
constexpr DWORD FirstObjectShift = kPlatformLayer ? 0 : sizeof(PERF_DATA_BLOCK);
constexpr DWORD GoodIndex = 9000;

struct Answer {
  LONG status;
  DWORD type, size;
  std::vector<BYTE> bytes;
  const PERF_DATA_BLOCK *block() const { return reinterpret_cast<const PERF_DATA_BLOCK *>(bytes.data()); }
  WideString text() const { return WideString(reinterpret_cast<const WCHAR *>(bytes.data()), size / sizeof(WCHAR)); }
};

Answer query(const WCHAR *name, DWORD capacity = 16384) {
  Answer answer{0, REG_NONE, capacity, std::vector<BYTE>(capacity + sizeof(PERF_DATA_BLOCK))};
  answer.status =
      RegQueryValueExW(HKEY_PERFORMANCE_DATA, name, nullptr, &answer.type, answer.bytes.data(), &answer.size);
  return answer;
}

// The instance name and counter values of the object of that index, found
// by walking the block by its lengths; empty when it is not there.
std::string objectOf(const Answer &answer, DWORD index) {
  const PERF_DATA_BLOCK *block = answer.block();
  DWORD at = block->HeaderLength + FirstObjectShift;
  std::string found;
  for (DWORD i = 0; i < block->NumObjectTypes; ++i) {
    const BYTE *base = answer.bytes.data() + at;
    auto *object = reinterpret_cast<const PERF_OBJECT_TYPE *>(base);
    auto *counters = reinterpret_cast<const PERF_COUNTER_DEFINITION *>(base + object->HeaderLength);
    auto *instance = reinterpret_cast<const PERF_INSTANCE_DEFINITION *>(base + object->DefinitionLength);
    const BYTE *values = reinterpret_cast<const BYTE *>(instance) + instance->ByteLength;
    if (object->ObjectNameTitleIndex == index && object->NumInstances == 1 && object->NumCounters == 2) {
      DWORD count;
      ULONGLONG total;
      std::memcpy(&count, values + counters[0].CounterOffset, sizeof count);
      std::memcpy(&total, values + counters[1].CounterOffset, sizeof total);
      for (auto *c = reinterpret_cast<const WCHAR *>(reinterpret_cast<const BYTE *>(instance) + instance->NameOffset);
           *c != 0; ++c)
        found.push_back(static_cast<char>(*c));
      found += " " + std::to_string(count) + " " + std::to_string(total);
    }
    at += object->TotalByteLength;
  }
  EXPECT_EQ(block->TotalByteLength, at - FirstObjectShift);
  return found;
}

class PerfDataTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    for (const std::string &service : services_)
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + service).c_str());
  }

  // A service whose Performance key names the collector's entry points and
  // gives the settings of its object.
  void registerService(const char *service, std::string library, const char *open, const char *collect,
                       CollectorSettings settings) {
    services_.push_back(service);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                              ("SYSTEM\\CurrentControlSet\\Services\\" + services_.back() + "\\Performance").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    for (auto [name, text] :
         {std::pair{"Library", library.c_str()}, {"Open", open}, {"Collect", collect}, {"Close", "CloseCollector"}})
      RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), std::strlen(text) + 1);
    RegSetValueExA(key, "Test Object", 0, REG_BINARY, reinterpret_cast<const BYTE *>(&settings), sizeof settings);
    RegCloseKey(key);
  }

  // The good service, its library named by the Windows form of its path.
  void registerGood(DWORD count, ULONGLONG total) {
    std::string path = std::string(kPlatformLayer ? "Z:" : "") + COLLECTOR_PATH;
    for (char &c : path) c = c == '/' ? '\\' : c;
    registerService(GOOD_SERVICE, path, "OpenCollector", "CollectGood", {GoodIndex, count, total, FaultNone});
  }

  std::vector<std::string> services_;
};

// Services whose library cannot be loaded or opened are skipped.
TEST_F(PerfDataTest, QueriesReturnTheHeaderAndTheObjectsAsked) {
  registerGood(42, 1234567890123ull);
  registerService("PerfDataTestMissing", "Z:\\no such folder\\collector.dll", "OpenCollector", "CollectGood",
                  {9200, 0, 0, FaultNone});
  registerService("PerfDataTestFailing", COLLECTOR_NAME, "OpenFailing", "CollectGood", {9300, 0, 0, FaultNone});
  Answer global = query(WIDE("Global"));
  ASSERT_EQ(ERROR_SUCCESS, global.status);
  EXPECT_EQ(DWORD(REG_BINARY), global.type);
  const PERF_DATA_BLOCK *block = global.block();
  EXPECT_EQ(WideString(WIDE("PERF")), WideString(block->Signature, 4));
  EXPECT_EQ(1u, block->LittleEndian + block->Version + block->Revision - 2);
  EXPECT_EQ(global.size, block->TotalByteLength);
  EXPECT_EQ(10000000, block->PerfFreq.QuadPart);
  EXPECT_GE(block->SystemTime.wYear, 2024);
  // The system name follows the fixed header, inside HeaderLength.
  EXPECT_EQ(sizeof(PERF_DATA_BLOCK), block->SystemNameOffset);
  EXPECT_EQ(0u, block->HeaderLength % 8);
  EXPECT_LE(block->SystemNameOffset + block->SystemNameLength, block->HeaderLength);
  auto *systemName = reinterpret_cast<const WCHAR *>(global.bytes.data() + block->SystemNameOffset);
  EXPECT_EQ(block->SystemNameLength / sizeof(WCHAR) - 1, WideString(systemName).size());
  EXPECT_EQ(1u, block->NumObjectTypes);
  EXPECT_EQ("Alpha 42 1234567890123", objectOf(global, GoodIndex));

  // Each query collects afresh; an empty name is Global; collectors answer
  // other objects, and the costly and foreign sets, with nothing.
  registerGood(7, 8);
  for (const WCHAR *name : {WIDE("5 9000 7"), WIDE("")}) EXPECT_EQ("Alpha 7 8", objectOf(query(name), GoodIndex));
  for (const WCHAR *name : {WIDE("9002"), WIDE("Costly"), WIDE("Foreign"), WIDE("Foreign VM")}) {
    Answer none = query(name);
    ASSERT_EQ(ERROR_SUCCESS, none.status);
    EXPECT_EQ(0u, none.block()->NumObjectTypes);
    EXPECT_EQ(none.block()->HeaderLength, none.size);
  }
  // The 8-bit form gives the same bytes.
  std::vector<BYTE> ansi(global.bytes.size());
  DWORD ansiSize = global.size;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(HKEY_PERFORMANCE_DATA, "", nullptr, nullptr, ansi.data(), &ansiSize));
  EXPECT_EQ(global.size, ansiSize);
  EXPECT_EQ(0, std::memcmp("P\0E\0R\0F\0", ansi.data(), 8));
}

// Performance data can grow between calls, so ERROR_MORE_DATA comes with no
// size; name lists give theirs as any value does.
TEST_F(PerfDataTest, TooSmallABufferGivesMoreDataAndNoSize) {
  registerGood(1, 2);
  const DWORD total = query(WIDE("Global")).size;
  Answer tooSmall = query(WIDE("Global"), total - 1);
  EXPECT_EQ(ERROR_MORE_DATA, tooSmall.status);
  EXPECT_EQ(DWORD(REG_BINARY), tooSmall.type);
  EXPECT_EQ(0u, tooSmall.size);
  DWORD size = 100;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(HKEY_PERFORMANCE_DATA, WIDE("Global"), nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExW(HKEY_PERFORMANCE_DATA, WIDE("Global"), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ("Alpha 1 2", objectOf(query(WIDE("Global"), total), GoodIndex));

  Answer names = query(WIDE("Counter 009"), 1);
  EXPECT_EQ(ERROR_MORE_DATA, names.status);
  EXPECT_EQ(DWORD(REG_MULTI_SZ), names.type);
  EXPECT_EQ(ERROR_SUCCESS, query(WIDE("Counter 009"), names.size).status);
}

TEST_F(PerfDataTest, ThreadsMayQueryAtOnce) {
  registerGood(8, 9);
  std::vector<std::thread> threads;
  std::vector<int> found(4, 0);
  for (int &hits : found)
    threads.emplace_back([&hits] {
      for (int i = 0; i < 10; ++i) hits += objectOf(query(WIDE("Global")), GoodIndex) == "Alpha 8 9";
    });
  for (std::thread &thread : threads) thread.join();
  for (int hits : found) EXPECT_EQ(10, hits);
}

// Over the platform only: Wine takes a library's word for what it wrote,
// loads, opens and unloads every library around each query, and lists a
// small table of names of its own.
#ifndef _WIN32
TEST_F(PerfDataTest, InconsistentAnswersAreDropped) {
  registerGood(5, 6);
  for (DWORD fault = FaultNone; fault < FaultCount; ++fault) {
    registerService(FAULTY_SERVICE, COLLECTOR_NAME, "OpenCollector", "CollectFaulty", {9100, 1, 1, fault});
    Answer answer = query(WIDE("Global"));
    EXPECT_EQ(fault == FaultNone ? 2u : 1u, answer.block()->NumObjectTypes) << fault;
    EXPECT_EQ(fault == FaultNone ? "Alpha 1 1" : "", objectOf(answer, 9100)) << fault;
    EXPECT_EQ("Alpha 5 6", objectOf(answer, GoodIndex));
  }
}

// As on Windows, a library is opened once and closed with the key.
TEST_F(PerfDataTest, LibrariesStayOpenUntilTheKeyIsClosed) {
  registerGood(0, 0);
  HMODULE module = LoadLibraryA(COLLECTOR_PATH);
  auto *calls =
      reinterpret_cast<COLLECTOR_CALLS_PROC *>(reinterpret_cast<void (*)()>(GetProcAddress(module, "CollectorCalls")));
  ASSERT_NE(nullptr, calls);
  LONG opens[2], closes[2];
  calls(&opens[0], &closes[0]);
  query(WIDE("Global"));
  query(WIDE("9000"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_PERFORMANCE_DATA));
  query(WIDE("Global"));
  calls(&opens[1], &closes[1]);
  EXPECT_EQ(2, opens[1] - opens[0]);
  EXPECT_EQ(1, closes[1] - closes[0]);
  FreeLibrary(module);
}

// The names and help texts that lodctr installs under Perflib, by index;
// names begin with the pair 1 and the last index.
TEST_F(PerfDataTest, NamesAndHelpTextsListWhatIsInstalled) {
  EXPECT_EQ(WideString(1, 0), query(WIDE("Counter 009")).text());
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib", &key));
  const DWORD lastCounter = 9002;
  RegSetValueExA(key, "Last Counter", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&lastCounter), sizeof lastCounter);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", &key));
  const char counters[] =
      "9002\0Caf\xe9\0"
      "9000\0Alpha\0",
             help[] = "9001\0About Alpha\0";
  RegSetValueExA(key, "Counter", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(counters), sizeof counters);
  RegSetValueExA(key, "Help", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(help), sizeof help);
  RegCloseKey(key);

  const WideString names(
      u"1\0"
      "9002\0"
      "9000\0Alpha\0"
      "9002\0Caf\u00e9\0",
      29);
  for (const WCHAR *name : {WIDE("Counter 009"), WIDE("counter")}) EXPECT_EQ(names, query(name).text());
  EXPECT_EQ(WideString(u"9001\0About Alpha\0", 18), query(WIDE("Help 009")).text());
  // The 8-bit form converts the texts to the system code page.
  char ansi[64] = {};
  DWORD size = sizeof ansi;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(HKEY_PERFORMANCE_DATA, "Counter 009", nullptr, nullptr,
                                            reinterpret_cast<BYTE *>(ansi), &size));
  EXPECT_EQ(std::string("1\0"
                        "9002\0"
                        "9000\0Alpha\0"
                        "9002\0Caf\xe9\0",
                        29),
            std::string(ansi, size));
}
#endif

}  // namespace
