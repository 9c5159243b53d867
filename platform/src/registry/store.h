// The registry's persistent store: one SQLite database in the platform's root
// folder, shared by every process that uses the same root.
//
// Keys form a tree of rows; values belong to a key. Names keep the case they
// were created with and are found through a folded (upper-cased) copy, so
// lookups ignore case as Windows does. Subkeys and values are both listed in
// folded-name order, as Wine lists them (Windows lists values in the order
// they were first set). HKEY_CLASSES_ROOT is not a tree of its own: as under Wine, it
// is HKEY_LOCAL_MACHINE\Software\Classes.
//
// Every registry call runs as one transaction (Store::run); a writer waits
// for, and retries after, another process's transaction rather than failing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform::registry {

using Text = std::basic_string<WCHAR>;
using Bytes = std::vector<BYTE>;
using KeyId = int64_t;

// The fixed rows of the two hives.
inline constexpr KeyId LocalMachineId = 1;
inline constexpr KeyId CurrentUserId = 2;

// Key and value names are at most this long. Windows documents 255 for key
// names; Wine takes one more, and so does this store.
inline constexpr size_t MaxKeyNameLength = 256;
inline constexpr size_t MaxValueNameLength = 16383;

struct SubKey {
  Text name;
  Text className;
  int64_t written = 0;
};

struct Value {
  Text name;
  DWORD type = REG_NONE;
  Bytes data;
};

struct KeyStatistics {
  Text className;
  DWORD subKeys = 0;
  DWORD maxSubKeyName = 0;
  DWORD maxClassName = 0;
  DWORD values = 0;
  DWORD maxValueName = 0;
  DWORD maxValueData = 0;
  int64_t written = 0;
};

// A statement prepared for one transaction; finalized on every path.
class Statement {
 public:
  Statement(sqlite3 *db, const char *sql);
  ~Statement();
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;

  Statement &bind(int index, int64_t value);
  Statement &bind(int index, const Text &text);
  Statement &bind(int index, const Bytes &bytes);
  Statement &bindNull(int index);
  // True while a row is there to read.
  bool step();
  void run();
  int64_t integer(int column) const;
  Text text(int column) const;
  Bytes bytes(int column) const;
  bool isNull(int column) const;

 private:
  sqlite3 *db_;
  sqlite3_stmt *statement_ = nullptr;
};

class Store {
 public:
  enum class Mode { Read, Write };

  // Runs body as one transaction of this process's connection and returns
  // its result. A transaction that another process holds the lock against
  // is rolled back and run again; a database failure gives ERROR_BADDB, a
  // database that cannot be opened ERROR_CANTOPEN. The body's changes are
  // committed only when it returns ERROR_SUCCESS.
  static LSTATUS run(Mode mode, const std::function<LSTATUS(Store &)> &body);

  // Forces committed changes from the write-ahead log into the database file.
  static LSTATUS flush();

  // A number that every process sharing the database moves on after each
  // transaction it commits, so that an answer found at one generation is
  // still the registry's answer while the generation stays the same. Empty
  // when the number cannot be kept, and then nothing may be taken as
  // unchanged.
  static std::optional<uint64_t> generation();

  bool exists(KeyId key);
  // The id of the subkey of parent called name, or 0.
  KeyId findChild(KeyId parent, const Text &name);
  KeyId createChild(KeyId parent, const Text &name, const Text &className);
  bool hasChildren(KeyId key);
  // Removes key, its values and every key below it.
  void removeTree(KeyId key);
  void removeChildren(KeyId key);
  bool subKeyAt(KeyId key, DWORD index, SubKey &out);
  // The subkeys of key called name, one per child of key that has one, in
  // one pass.
  std::vector<KeyId> grandchildrenNamed(KeyId key, const Text &name);
  KeyStatistics statistics(KeyId key);

  bool findValue(KeyId key, const Text &name, Value &out);
  void setValue(KeyId key, const Text &name, DWORD type, const Bytes &data);
  // False when the value is not there.
  bool removeValue(KeyId key, const Text &name);
  void removeValues(KeyId key);
  bool valueAt(KeyId key, DWORD index, Value &out);

  // HKEY_LOCAL_MACHINE\Software\Classes, made when missing.
  KeyId classesRoot();

 private:
  explicit Store(sqlite3 *db) : db_(db) {}
  // One transaction of body, begun again while another process holds the
  // database.
  LSTATUS attempt(Mode mode, const std::function<LSTATUS(Store &)> &body);
  void touch(KeyId key);
  sqlite3 *db_;
};

// The upper-cased form under which a name is found and sorted.
Bytes foldName(const Text &name);

}  // namespace platform::registry
