// Publishing a tree to readers in other processes: what a reader gets back,
// growth, a second host, withdrawal, and a host or a reader that dies while
// the other goes on without pause.
#include "ComponentFixture.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PublishedTree.h"

using rv::publishing::readPublishedTree;
using rv::publishing::TreePublisher;

namespace {

std::vector<BYTE> pattern(size_t size, BYTE seed) {
  std::vector<BYTE> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(seed + i * 7);
  return bytes;
}

Text deviceFor(const char *what) { return wide(std::string(what) + std::to_string(GetCurrentProcessId())); }

}  // namespace

TEST(PublishedTree, AReaderGetsTheLastTreeWholeAsItGrowsAndShrinks) {
  const Text device = deviceFor("RVPublish");
  std::vector<BYTE> read;
  EXPECT_EQ(S_FALSE, readPublishedTree(device.c_str(), read));
  {
    TreePublisher publisher(device.c_str());
    for (size_t size : {size_t(122), size_t(300000), size_t(8), size_t(0), size_t(70000)}) {
      const std::vector<BYTE> tree = pattern(size, static_cast<BYTE>(size));
      ASSERT_EQ(S_OK, publisher.publish(tree.data(), tree.size())) << size;
      ASSERT_EQ(S_OK, readPublishedTree(device.c_str(), read)) << size;
      EXPECT_EQ(tree, read) << size;
    }
    EXPECT_EQ(5u, publisher.generation());

    // A second host of the same device would overwrite the first one's tree.
    TreePublisher rival(device.c_str());
    const std::vector<BYTE> other = pattern(50, 1);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), rival.publish(other.data(), other.size()));
    ASSERT_EQ(S_OK, readPublishedTree(device.c_str(), read));
    EXPECT_EQ(70000u, read.size());

    publisher.withdraw();
    EXPECT_EQ(S_FALSE, readPublishedTree(device.c_str(), read));
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(0u, publisher.generation());
  }
  EXPECT_EQ(S_FALSE, readPublishedTree(device.c_str(), read));
}

namespace {

const char CrashInstructions[] = "RV_PUBLISHING_CRASH";

// Tree n of a host that publishes without pause: sizes from a few bytes to
// several sections' growth, every byte saying which tree it belongs to.
std::vector<BYTE> crashTree(unsigned n) {
  std::vector<BYTE> bytes = pattern(16 + (n * 7919u) % 200000u, static_cast<BYTE>(n));
  std::memcpy(bytes.data(), &n, sizeof n);
  return bytes;
}

bool wholeCrashTree(const std::vector<BYTE> &bytes) {
  unsigned n = 0;
  if (bytes.size() < sizeof n) return false;
  std::memcpy(&n, bytes.data(), sizeof n);
  return bytes == crashTree(n);
}

}  // namespace

// A host killed at a random moment of publishing, growth included: while it
// lived a reader got whole trees only, and once it is gone no data at all.
TEST(PublishedTree, AHostKilledWhilePublishingLeavesWholeTreesOrNone) {
  const std::string device = "RVPublishCrash" + std::to_string(GetCurrentProcessId());
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ChildProcess host;
    ASSERT_TRUE(host.start("PublishedTreeCrash.DISABLED_Host", CrashInstructions, device));
    std::vector<BYTE> read;
    int whole = 0;
    for (int i = 0; i < 2000 && whole < 5 + round * 3; ++i) {
      if (readPublishedTree(wide(device).c_str(), read) != S_OK) {
        Sleep(1);
        continue;
      }
      ASSERT_TRUE(wholeCrashTree(read)) << "a reader got a tree of " << read.size() << " bytes that is not whole";
      ++whole;
    }
    ASSERT_GE(whole, 5) << "the host did not get going";
    host.kill();
    host.finish();
    EXPECT_EQ(S_FALSE, readPublishedTree(wide(device).c_str(), read));
  }
}

// A reader killed at random moments, while it opens, copies or closes what
// the host shares, never stops the host: every publish between the kills
// succeeds.
TEST(PublishedTree, AReaderKilledWhileReadingNeverBlocksTheHost) {
  const std::string device = "RVPublishReaderCrash" + std::to_string(GetCurrentProcessId());
  TreePublisher publisher(wide(device).c_str());
  unsigned n = 1;
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ChildProcess reader;
    ASSERT_TRUE(reader.start("PublishedTreeCrash.DISABLED_Reader", CrashInstructions, device));
    for (int i = 0; i < 20 + round * 7; ++i, ++n) {
      const std::vector<BYTE> tree = crashTree(n);
      ASSERT_EQ(S_OK, publisher.publish(tree.data(), tree.size()));
    }
    reader.kill();
    reader.finish();
    const std::vector<BYTE> tree = crashTree(n++);
    ASSERT_EQ(S_OK, publisher.publish(tree.data(), tree.size()));
    std::vector<BYTE> read;
    ASSERT_EQ(S_OK, readPublishedTree(wide(device).c_str(), read));
    EXPECT_EQ(tree, read);
  }
}

TEST(PublishedTreeCrash, DISABLED_Host) {
  const char *device = std::getenv(CrashInstructions);
  ASSERT_NE(nullptr, device);
  TreePublisher publisher(wide(device).c_str());
  for (unsigned n = 1;; ++n) {
    const std::vector<BYTE> tree = crashTree(n);
    ASSERT_EQ(S_OK, publisher.publish(tree.data(), tree.size()));
  }
}

TEST(PublishedTreeCrash, DISABLED_Reader) {
  const char *device = std::getenv(CrashInstructions);
  ASSERT_NE(nullptr, device);
  for (;;) {
    std::vector<BYTE> read;
    if (readPublishedTree(wide(device).c_str(), read) == S_OK) {
      ASSERT_TRUE(wholeCrashTree(read));
    }
  }
}
