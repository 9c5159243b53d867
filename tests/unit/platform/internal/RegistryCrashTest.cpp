// A process killed while it writes the registry store leaves it whole: the
// next process finds every value either as written or not at all, the
// database passes SQLite's integrity check, and writing goes on at once.
// The writer is this very program, started again to run only the endless
// writer below, and killed at a random moment of its work.
#include <windows.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../PlatformTestSupport.h"
#include "ChildProcess.h"
#include "kernel/paths.h"

namespace {

constexpr const char *WriterVariable = "REGISTRY_CRASH_WRITER";

// Value n of the writer: a length that varies from a few bytes to several
// pages, and bytes that say which value and which length they belong to, so
// that a value cut short or mixed with another one shows.
std::vector<BYTE> valueBytes(unsigned n) {
  const size_t size = 8 + (n * 977u) % 9000u;
  std::vector<BYTE> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>((n * 31u + i * 7u) & 0xFF);
  const DWORD head[2] = {static_cast<DWORD>(size), n};
  std::memcpy(bytes.data(), head, sizeof head);
  return bytes;
}

bool wholeValue(const std::vector<BYTE> &bytes) {
  if (bytes.size() < 8) return false;
  DWORD head[2];
  std::memcpy(head, bytes.data(), sizeof head);
  return head[0] == bytes.size() && valueBytes(head[1]) == bytes;
}

std::string integrityOf(const std::string &database) {
  sqlite3 *db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt *check = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
        sqlite3_step(check) == SQLITE_ROW)
      result = reinterpret_cast<const char *>(sqlite3_column_text(check, 0));
    sqlite3_finalize(check);
  }
  sqlite3_close(db);
  return result;
}

}  // namespace

TEST(RegistryCrash, AWriterKilledMidWriteLeavesWholeValuesAndAConsistentStore) {
  const std::string path = "Software\\RegistryCrash_" + std::to_string(GetCurrentProcessId());
  std::mt19937 random(std::random_device{}());
  int checked = 0;
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ChildProcess writer;
    ASSERT_TRUE(writer.start("RegistryCrashWriter.DISABLED_Endless", WriterVariable, path));
    // Until the writer is well into its work, then a little longer.
    DWORD written = 0;
    for (int wait = 0; wait < 3000 && written < 20; ++wait) {
      Sleep(2);
      Key key;
      DWORD size = sizeof written;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS)
        RegQueryValueExA(key.get(), "written", nullptr, nullptr, reinterpret_cast<BYTE *>(&written), &size);
    }
    ASSERT_GE(written, 20u) << "the writer did not get going";
    Sleep(std::uniform_int_distribution<DWORD>(0, 40)(random));
    writer.kill();
    writer.finish();

    EXPECT_EQ("ok", integrityOf(platform::kernel::rootFolder() + "/registry.db"));
    Key root;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, root.out()));
    char subkey[64];
    DWORD subkeySize = sizeof subkey;
    for (DWORD k = 0;
         RegEnumKeyExA(root.get(), k, subkey, &subkeySize, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++k, subkeySize = sizeof subkey) {
      Key key;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), subkey, 0, KEY_READ, key.out()));
      char name[64];
      for (DWORD v = 0;; ++v) {
        DWORD nameSize = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key.get(), v, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), name, nullptr, &type, data.data(), &size));
        EXPECT_TRUE(type == REG_BINARY && wholeValue(data)) << subkey << "\\" << name << " is not a whole value";
        ++checked;
      }
    }
    // The store takes the next write at once: nothing the dead writer held
    // is left locked.
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, key.out()));
    const DWORD reset = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key.get(), "written", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&reset), sizeof reset));
  }
  EXPECT_GT(checked, 0);
  RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
}

// Run only as the writer of the test above: sets, replaces and deletes
// values and whole keys until it is killed, counting its writes in
// "written".
TEST(RegistryCrashWriter, DISABLED_Endless) {
  const char *path = std::getenv(WriterVariable);
  ASSERT_NE(nullptr, path);
  Key root;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.out(), nullptr));
  for (unsigned n = 1;; ++n) {
    const std::string subkey = "K" + std::to_string(n % 7);
    if (n % 23 == 0) {
      RegDeleteTreeA(root.get(), subkey.c_str());
      RegDeleteKeyA(root.get(), subkey.c_str());
    }
    Key key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root.get(), subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr));
    const std::vector<BYTE> bytes = valueBytes(n);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), ("V" + std::to_string(n % 50)).c_str(), 0, REG_BINARY,
                                            bytes.data(), static_cast<DWORD>(bytes.size())));
    const DWORD written = n;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), "written", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE *>(&written), sizeof written));
  }
}
