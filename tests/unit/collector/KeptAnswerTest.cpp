// A collector that keeps a device's section and answer layout between calls
// answers exactly what a collector that starts afresh answers, and what the
// snapshot of the published blob writes: while only the values change, after
// the tree changes shape, after its host restarts and when its blob is
// damaged. Both collectors run in this process and read the host's section.
#include "ComponentFixture.h"
#include "Trees.h"

#include <winperf.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "PerfCollector.h"
#include "PerfData.h"
#include "PerfDataWriter.h"
#include "PublishedTree.h"
#include "TreeSnapshot.h"

using namespace trees;
using rv::collector::PerfCollector;

namespace {

using Answer = std::vector<BYTE>;

// A collector's answer to `query`, in a buffer of its own that stays where
// it is, so that no call looks like the next one of a query already served.
class Reader {
 public:
  Reader() : buffer_(1 << 20) { collector_.open(nullptr); }
  ~Reader() { collector_.close(); }
  Answer collect(const WCHAR *query) {
    void *at = buffer_.data();
    DWORD bytes = static_cast<DWORD>(buffer_.size()), objects = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), collector_.collect(query, &at, &bytes, &objects));
    return Answer(buffer_.begin(), buffer_.begin() + bytes);
  }

 private:
  PerfCollector collector_;
  std::vector<BYTE> buffer_;
};

// An answer with every object's clock zeroed: each publish stamps its own.
Answer withoutClock(Answer answer) {
  for (size_t at = 0; at + sizeof(PERF_OBJECT_TYPE) <= answer.size();) {
    PERF_OBJECT_TYPE type;
    std::memcpy(&type, answer.data() + at, sizeof type);
    type.PerfTime.QuadPart = 0;
    type.PerfFreq.QuadPart = 0;
    std::memcpy(answer.data() + at, &type, sizeof type);
    if (type.TotalByteLength == 0) break;
    at += type.TotalByteLength;
  }
  return answer;
}

class KeptAnswer : public ComponentFixture {
 protected:
  void SetUp() override {
    device_ = "RVKeptAnswer" + std::to_string(GetCurrentProcessId());
    // The service names this test program as its collector library, as the
    // collector matches its own module's file name.
    WCHAR self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const WCHAR open[] = OLESTR("OpenNorvalePerfData");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, serviceKey().c_str(), 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    RegSetValueExW(key, OLESTR("Library"), 0, REG_SZ, reinterpret_cast<const BYTE *>(self),
                   (length + 1) * sizeof(WCHAR));
    RegSetValueExW(key, OLESTR("Open"), 0, REG_SZ, reinterpret_cast<const BYTE *>(open), sizeof open);
    RegCloseKey(key);
    create(CLSID_PerfMgr, IID_IPerfMgr, manager_);
    buildSample(manager_.p);
    publisher_ = std::make_unique<rv::publishing::TreePublisher>(wide(device_).c_str());
  }
  void TearDown() override {
    publisher_.reset();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + device_).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + device_).c_str());
  }
  std::string serviceKey() const { return "SYSTEM\\CurrentControlSet\\Services\\" + device_ + "\\Performance"; }

  IPerfObject *object(LONG id) {
    Ref<IPerfObject> found;
    objectsOf(manager_.p)->get_ItemByID(id, found.put());
    return found.p;
  }

  // What the snapshot of the published blob writes: the collector's answer
  // before it kept anything between calls.
  Answer written(const WCHAR *query) {
    std::vector<BYTE> blob;
    rv::publishing::PublishedClock clock;
    if (rv::publishing::readPublishedTree(wide(device_).c_str(), blob, &clock) != S_OK) return {};
    rv::collector::TreeSnapshot tree;
    std::string problem;
    if (!rv::collector::readTreeSnapshot(blob.data(), blob.size(), tree, problem)) return {};
    Answer answer(1 << 20);
    DWORD bytes = 0, objects = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              rv::collector::writePerfData(tree, rv::collector::ObjectQuery(query), {10000, 10001},
                                           {clock.time, clock.frequency}, answer.data(),
                                           static_cast<DWORD>(answer.size()), bytes, objects));
    answer.resize(bytes);
    return answer;
  }

  // The kept collector's answers to every object and to one, each the same
  // as a fresh collector's and as the snapshot's.
  Answer collectBoth(const std::string &when) {
    SCOPED_TRACE(when);
    const Answer all = kept_.collect(nullptr);
    for (const WCHAR *query : {OLESTR("Global"), OLESTR("10010")}) {
      const Answer keptOne = kept_.collect(query);
      EXPECT_EQ(written(query), keptOne);
      Reader fresh;
      EXPECT_EQ(fresh.collect(query), keptOne);
    }
    EXPECT_EQ(written(nullptr), all);
    return all;
  }

  void publish() { ASSERT_EQ(S_OK, publisher_->publish(manager_.p)); }

  std::string device_;
  Ref<IPerfMgr> manager_;
  std::unique_ptr<rv::publishing::TreePublisher> publisher_;
  Reader kept_;
};

}  // namespace

TEST_F(KeptAnswer, IsTheFreshAnswerWhetherValuesOrShapeChange) {
  EXPECT_TRUE(collectBoth("nothing published").empty());
  publish();
  const Answer first = collectBoth("first tree");
  ASSERT_FALSE(first.empty());

  // Values only, integers and doubles, and the time stamps: the answer moves
  // with them.
  IPerfObject *requests = object(2);
  IPerfInstance *alpha = instance(requests, "alpha");
  setValue(counter(alpha, 4), "I4:-7");
  setValue(counter(alpha, 6), "R8:2.5e10");
  alpha->put_TimeStamp(47000.0);
  setValue(counter(object(10), 12), "R8:-3.5");
  ASSERT_EQ(S_OK, manager_->CalcTotalInstances());
  publish();
  const Answer values = collectBoth("values changed");
  EXPECT_EQ(first.size(), values.size());
  EXPECT_NE(withoutClock(first), withoutClock(values));
  publish();
  EXPECT_EQ(withoutClock(values), withoutClock(collectBoth("the same tree published again")));

  // A value of another type changes the blob's bytes around it.
  setValue(counter(alpha, 4), "R8:1.5");
  publish();
  collectBoth("a value's type changed");
  setValue(counter(alpha, 8), "BYTES:9");
  publish();
  collectBoth("a byte array's length changed");

  // Shape: an instance renamed to a name of the same length, one added, one
  // removed, a counter's type changed from 32 to 64 bits.
  TestBstr gamma("gamma");
  ASSERT_EQ(S_OK, alpha->put_Name(gamma.value));
  publish();
  collectBoth("an instance renamed");
  setValue(counter(instance(requests, "delta"), 4), "I4:12");
  publish();
  collectBoth("an instance added");
  ASSERT_EQ(S_OK, instancesOf(requests)->Remove(2));
  publish();
  collectBoth("an instance removed");
  ASSERT_EQ(S_OK, counter(requests, 4)->put_CounterType(PERF_COUNTER_LARGE_RAWCOUNT));
  ASSERT_EQ(S_OK, counter(instance(requests, "delta"), 4)->put_CounterType(PERF_COUNTER_LARGE_RAWCOUNT));
  publish();
  collectBoth("a counter's type changed");

  // The host restarts: nothing while none runs, then the new host's tree.
  publisher_.reset();
  EXPECT_TRUE(collectBoth("host stopped").empty());
  publisher_ = std::make_unique<rv::publishing::TreePublisher>(wide(device_).c_str());
  publish();
  const Answer restarted = collectBoth("host restarted");
  EXPECT_FALSE(restarted.empty());
}

TEST_F(KeptAnswer, IsTheFreshAnswerForADamagedBlob) {
  publish();
  const Answer good = collectBoth("good tree");
  ASSERT_FALSE(good.empty());
  VARIANT blob;
  VariantInit(&blob);
  ASSERT_EQ(S_OK, manager_->get_MyBlob(btAsBinaryArray, &blob));
  const Bytes bytes = bytesOf(blob);
  VariantClear(&blob);

  // The same length with one byte changed: an instance name's unit (the tree
  // reads, with another name), and bytes of lengths, counts or tags (it may
  // not read at all); cut short; then whole again.
  const char16_t beta[] = u"beta";
  size_t name = 0;
  while (name + 8 <= bytes.size() && std::memcmp(bytes.data() + name, beta, 8) != 0) ++name;
  ASSERT_LT(name + 8, bytes.size());
  for (size_t at : {name, size_t(12), bytes.size() / 3, bytes.size() - 5}) {
    Bytes damaged = bytes;
    damaged[at] ^= 0x5A;
    ASSERT_EQ(S_OK, publisher_->publish(damaged.data(), damaged.size()));
    collectBoth("byte " + std::to_string(at) + " damaged");
  }
  ASSERT_EQ(S_OK, publisher_->publish(bytes.data(), bytes.size() - 3));
  EXPECT_TRUE(collectBoth("cut short").empty());
  ASSERT_EQ(S_OK, publisher_->publish(bytes.data(), bytes.size()));
  EXPECT_EQ(good.size(), collectBoth("whole again").size());
}

// Readers on several threads share one collector while the host publishes
// values: every answer is one tree's, never values of two publishes mixed,
// since each publish sets every counter to one number.
TEST_F(KeptAnswer, ThreadsSharingACollectorEachGetOneWholeTree) {
  IPerfObject *requests = object(2);
  std::vector<IPerfCounter *> counters;
  for (const char *name : {"alpha", "beta"})
    for (LONG id : {4, 6}) counters.push_back(counter(instance(requests, name), id));
  auto publishAll = [&](LONG n) {
    for (IPerfCounter *each : counters) setValue(each, "I4:" + std::to_string(n));
    publish();
  };
  publishAll(1);
  PerfCollector shared;
  shared.open(nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> mixed{0}, answers{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      std::vector<BYTE> buffer(1 << 20);
      while (!stop.load()) {
        void *at = buffer.data() + sizeof(PERF_DATA_BLOCK);
        DWORD bytes = static_cast<DWORD>(buffer.size() - sizeof(PERF_DATA_BLOCK)), objects = 0;
        if (shared.collect(OLESTR("10002"), &at, &bytes, &objects) != ERROR_SUCCESS || bytes == 0) continue;
        PERF_DATA_BLOCK header{};
        std::memcpy(header.Signature, OLESTR("PERF"), 8);
        header.LittleEndian = 1;
        header.Version = 1;
        header.HeaderLength = sizeof header;
        header.TotalByteLength = sizeof header + bytes;
        header.NumObjectTypes = objects;
        std::memcpy(buffer.data(), &header, sizeof header);
        perfdata::DataBlock block;
        std::string problem;
        if (!perfdata::parseDataBlock(buffer.data(), header.TotalByteLength, block, problem)) {
          ++mixed;
          continue;
        }
        // alpha and beta hold the publish's number in both counters.
        std::vector<LONGLONG> seen;
        for (const perfdata::Instance &instance : block.objects.at(0).instances) {
          const std::string name = narrow(instance.name.c_str());
          if (name != "alpha" && name != "beta") continue;
          for (size_t c = 0; c < 2; ++c) {
            LONGLONG value = 0;
            const perfdata::CounterDefinition &definition = block.objects[0].counters[c];
            std::memcpy(&value, instance.counters.bytes.data() + definition.counterOffset, definition.size);
            seen.push_back(value);
          }
        }
        if (seen.size() != 4 || seen != std::vector<LONGLONG>(4, seen[0])) ++mixed;
        ++answers;
      }
    });
  }
  for (LONG n = 2; n < 30; ++n) publishAll(n);
  while (answers.load() < 10) Sleep(1);
  stop = true;
  for (std::thread &reader : readers) reader.join();
  shared.close();
  EXPECT_EQ(0, mixed.load());
}
