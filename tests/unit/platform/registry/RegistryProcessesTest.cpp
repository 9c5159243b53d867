// Two processes write the registry at the same time and lose nothing. The
// second process is this very program, started again to run only the writer
// below with the test's key; it marks its start and its end with values of
// that key.
#include "ChildProcess.h"
#include "RegistryTestSupport.h"

#include <cstdlib>

namespace {

constexpr const char *WriterVariable = "REGISTRY_TEST_WRITER";
constexpr int ValuesPerWriter = 300;
constexpr int Buckets = 10;

// Writes values <prefix>_<n> spread over subkeys that both writers create,
// each value in its own calls as a program would.
void writeValues(const std::string &keyPath, const std::string &prefix) {
  for (int n = 0; n < ValuesPerWriter; ++n) {
    Key key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, (keyPath + "\\Bucket" + std::to_string(n % Buckets)).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr));
    DWORD data = static_cast<DWORD>(n);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), (prefix + "_" + std::to_string(n)).c_str(), 0, REG_DWORD,
                                            reinterpret_cast<BYTE *>(&data), sizeof data));
  }
}

// The writer's marker `name`, once it is there (within a minute).
DWORD waitForMarker(HKEY key, const char *name) {
  for (int attempt = 0; attempt < 3000; ++attempt, Sleep(20)) {
    DWORD value = 0, size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &size) == ERROR_SUCCESS)
      return value;
  }
  return 0xffffffff;
}

}  // namespace

using RegistryProcesses = RegistryTest;

TEST_F(RegistryProcesses, TwoProcessesWritingAtOnceLoseNothing) {
  ChildProcess writer;
  ASSERT_TRUE(writer.start("RegistryWriterProcess.DISABLED_Writer", WriterVariable, path));
  ASSERT_EQ(0u, waitForMarker(root.get(), "started"));
  writeValues(path, "first");
  ASSERT_EQ(0u, waitForMarker(root.get(), "finished")) << "the writer failed or did not finish";
  EXPECT_EQ(0, writer.finish());

  for (int bucket = 0; bucket < Buckets; ++bucket) {
    Key key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(root.get(), ("Bucket" + std::to_string(bucket)).c_str(), 0, KEY_READ, key.out()));
    DWORD values = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(2 * ValuesPerWriter / Buckets), values);
    for (int n = bucket; n < ValuesPerWriter; n += Buckets) {
      for (const char *prefix : {"first_", "second_"}) {
        DWORD data = 0xffffffff, size = sizeof data;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), (prefix + std::to_string(n)).c_str(), nullptr, nullptr,
                                                  reinterpret_cast<BYTE *>(&data), &size));
        EXPECT_EQ(static_cast<DWORD>(n), data) << prefix << n;
      }
    }
  }
}

// Run only as the second process of the test above: "started" is 0, and
// "finished" 0 when every write succeeded.
TEST(RegistryWriterProcess, DISABLED_Writer) {
  const char *keyPath = std::getenv(WriterVariable);
  ASSERT_NE(nullptr, keyPath);
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_ALL_ACCESS, key.out()));
  DWORD marker = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "started", 0, REG_DWORD, reinterpret_cast<BYTE *>(&marker), 4));
  writeValues(keyPath, "second");
  marker = ::testing::Test::HasFailure() ? 1 : 0;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "finished", 0, REG_DWORD, reinterpret_cast<BYTE *>(&marker), 4));
}
