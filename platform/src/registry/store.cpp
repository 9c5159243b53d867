#include "registry/store.h"

#include "kernel/descriptor.h"
#include "kernel/paths.h"
#include "kernel/text_tables.h"
#include "kernel/trusted_paths.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace platform::registry {

namespace {

// A failing SQLite call, carried out of the transaction body to Store::run.
struct StoreFailure {
  int code;
};

void check(int result) {
  if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE) throw StoreFailure{result};
}

bool isBusy(int code) {
  int primary = code & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Another process's transaction is waited for this long per attempt, and a
// transaction is attempted again until this much time has passed in all.
constexpr int BusyTimeoutMilliseconds = 2000;
constexpr auto RetryLimit = std::chrono::seconds(120);

const char *const Schema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER,
  name BLOB NOT NULL,
  fold BLOB NOT NULL,
  class BLOB,
  written INTEGER NOT NULL,
  UNIQUE(parent, fold));
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL,
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, fold));
)sql";

int64_t fileTimeNow() {
  // FILETIME counts 100 ns intervals since 1 January 1601.
  constexpr int64_t EpochDifference = 11644473600LL * 10000000LL;
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100 + EpochDifference;
}

Text wide(const char16_t *text) { return Text(reinterpret_cast<const WCHAR *>(text)); }

class Connection {
 public:
  ~Connection() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
  }

  // The open database, made and given its schema on first use; null when
  // it cannot be opened, with the reason in `*error`.
  sqlite3 *get(LSTATUS *error) {
    *error = db_ == nullptr ? open() : ERROR_SUCCESS;
    return db_;
  }

  std::mutex lock;

 private:
  LSTATUS open() {
    // The registry names the modules programs load: a root or a store that
    // someone else could have planted or written is not read at all.
    const std::string root = kernel::rootFolder();
    if (const std::string why = kernel::untrustedReason(root); !why.empty()) {
      kernel::reportRefusal("the platform root " + root, why);
      return ERROR_ACCESS_DENIED;
    }
    const std::string path = root + "/registry.db";
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
      if (LSTATUS refused = makePrivate(path + suffix, *suffix == 0)) return refused;
    }
    sqlite3 *db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
      sqlite3_close_v2(db);
      return ERROR_CANTOPEN;
    }
    sqlite3_busy_timeout(db, BusyTimeoutMilliseconds);
    sqlite3_extended_result_codes(db, 1);
    // WAL lets readers and one writer of different processes work at once;
    // NORMAL synchronisation keeps every commit across a crash of the
    // process, and RegFlushKey checkpoints for the rest.
    auto deadline = std::chrono::steady_clock::now() + RetryLimit;
    for (;;) {
      int result = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
      if (result == SQLITE_OK) break;
      if (!isBusy(result) || std::chrono::steady_clock::now() > deadline) {
        sqlite3_close_v2(db);
        return ERROR_CANTOPEN;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    db_ = db;
    return ERROR_SUCCESS;
  }

  // The store's file, or one of SQLite's beside it (`create`: made when
  // missing), private to this user: made 0600, so that SQLite's journals,
  // which take the database's mode, are too; one that another user owns or
  // may write is refused, and one others may only read is made private.
  static LSTATUS makePrivate(const std::string &path, bool create) {
    kernel::Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0), 0600));
    if (file.get() < 0) {
      if (errno == ENOENT && !create) return ERROR_SUCCESS;
      if (errno == ELOOP) {
        kernel::reportRefusal("the registry file " + path, "it is a symbolic link");
        return ERROR_ACCESS_DENIED;
      }
      return ERROR_CANTOPEN;
    }
    struct stat status;
    if (fstat(file.get(), &status) != 0) return ERROR_CANTOPEN;
    std::string why = S_ISREG(status.st_mode) ? kernel::untrustedEntry(path, status) : path + " is not a file";
    if (why.empty() && status.st_uid != geteuid()) why = path + " belongs to user " + std::to_string(status.st_uid);
    if (!why.empty()) {
      kernel::reportRefusal("the registry file " + path, why);
      return ERROR_ACCESS_DENIED;
    }
    if ((status.st_mode & 077) != 0 && fchmod(file.get(), 0600) != 0) return ERROR_CANTOPEN;
    return ERROR_SUCCESS;
  }

  sqlite3 *db_ = nullptr;
};

Connection &connection() {
  static Connection instance;
  return instance;
}

// The registry's generation: a 64-bit counter in a small file beside the
// database, mapped into every process that uses it, so that reading it costs
// no system call. A committing process moves it on after its commit, never
// before, so that a reader that saw the old number also looks again.
class SharedGeneration {
 public:
  SharedGeneration() {
    std::string path = kernel::rootFolder() + "/registry.generation";
    int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) return;
    struct stat status;
    // A new file grows to the counter's size, full of zeros; growing an
    // existing one changes nothing. One that is not this user's own is not
    // used: without the counter every read looks at the store itself.
    if (fstat(file, &status) == 0 && status.st_uid == geteuid() && (status.st_mode & 022) == 0 &&
        (status.st_size >= Size || ftruncate(file, Size) == 0)) {
      void *mapped = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
      if (mapped != MAP_FAILED) counter_ = static_cast<std::atomic<uint64_t> *>(mapped);
    }
    ::close(file);
  }

  std::optional<uint64_t> current() const {
    if (counter_ == nullptr) return std::nullopt;
    return counter_->load(std::memory_order_acquire);
  }
  void moveOn() {
    if (counter_ != nullptr) counter_->fetch_add(1, std::memory_order_acq_rel);
  }

 private:
  static constexpr off_t Size = sizeof(uint64_t);
  static_assert(std::atomic<uint64_t>::is_always_lock_free, "the counter is shared between processes");
  std::atomic<uint64_t> *counter_ = nullptr;
};

SharedGeneration &sharedGeneration() {
  static SharedGeneration instance;
  return instance;
}

// Makes the tables and the fixed keys a fresh registry starts with, once
// per database.
void prepare(sqlite3 *db, Store &store) {
  check(sqlite3_exec(db, Schema, nullptr, nullptr, nullptr));
  Statement roots(db, "INSERT OR IGNORE INTO keys(id, parent, name, fold, written) VALUES(?1, NULL, ?2, ?3, ?4)");
  for (auto [id, name] : {std::pair{LocalMachineId, u"HKEY_LOCAL_MACHINE"}, {CurrentUserId, u"HKEY_CURRENT_USER"}}) {
    Text text = wide(name);
    roots.bind(1, id).bind(2, text).bind(3, foldName(text)).bind(4, fileTimeNow()).run();
  }
  auto ensure = [&](KeyId parent, const char16_t *name) {
    KeyId found = store.findChild(parent, wide(name));
    return found != 0 ? found : store.createChild(parent, wide(name), Text());
  };
  KeyId software = ensure(LocalMachineId, u"Software");
  ensure(software, u"Classes");
  ensure(LocalMachineId, u"System");
  ensure(CurrentUserId, u"Software");
}

}  // namespace

Bytes foldName(const Text &name) {
  // Big-endian units, so that comparing the bytes compares the units.
  Bytes folded;
  folded.reserve(name.size() * 2);
  for (WCHAR c : name) {
    WCHAR upper = kernel::ToUpperWide(c);
    folded.push_back(static_cast<BYTE>(upper >> 8));
    folded.push_back(static_cast<BYTE>(upper & 0xff));
  }
  return folded;
}

Statement::Statement(sqlite3 *db, const char *sql) : db_(db) {
  check(sqlite3_prepare_v2(db_, sql, -1, &statement_, nullptr));
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement &Statement::bind(int index, int64_t value) {
  check(sqlite3_bind_int64(statement_, index, value));
  return *this;
}

Statement &Statement::bind(int index, const Text &text) {
  // An empty name is an empty blob, never NULL.
  if (text.empty()) {
    check(sqlite3_bind_zeroblob(statement_, index, 0));
  } else {
    check(sqlite3_bind_blob(statement_, index, text.data(), static_cast<int>(text.size() * sizeof(WCHAR)),
                            SQLITE_TRANSIENT));
  }
  return *this;
}

Statement &Statement::bind(int index, const Bytes &bytes) {
  if (bytes.empty()) {
    check(sqlite3_bind_zeroblob(statement_, index, 0));
  } else {
    check(sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
  }
  return *this;
}

Statement &Statement::bindNull(int index) {
  check(sqlite3_bind_null(statement_, index));
  return *this;
}

bool Statement::step() {
  int result = sqlite3_step(statement_);
  if (result == SQLITE_ROW) return true;
  sqlite3_reset(statement_);
  if (result != SQLITE_DONE) throw StoreFailure{result};
  return false;
}

void Statement::run() {
  while (step()) {
  }
}

int64_t Statement::integer(int column) const { return sqlite3_column_int64(statement_, column); }

bool Statement::isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

Text Statement::text(int column) const {
  const void *data = sqlite3_column_blob(statement_, column);
  int size = sqlite3_column_bytes(statement_, column);
  Text out(static_cast<size_t>(size) / sizeof(WCHAR), 0);
  if (size > 0) std::memcpy(out.data(), data, out.size() * sizeof(WCHAR));
  return out;
}

Bytes Statement::bytes(int column) const {
  const BYTE *data = static_cast<const BYTE *>(sqlite3_column_blob(statement_, column));
  int size = sqlite3_column_bytes(statement_, column);
  return size > 0 ? Bytes(data, data + size) : Bytes();
}

LSTATUS Store::run(Mode mode, const std::function<LSTATUS(Store &)> &body) {
  Connection &shared = connection();
  std::lock_guard<std::mutex> guard(shared.lock);
  LSTATUS error;
  sqlite3 *db = shared.get(&error);
  if (db == nullptr) return error;
  Store store(db);
  // The schema is made in a transaction of its own, so that it stays even
  // when the first call of the process fails and rolls back.
  static bool prepared = false;
  if (!prepared) {
    LSTATUS status = store.attempt(Mode::Write, [&](Store &) {
      prepare(db, store);
      return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
    if (status != ERROR_SUCCESS) return status;
    prepared = true;
  }
  LSTATUS status = store.attempt(mode, body);
  if (mode == Mode::Write && status == ERROR_SUCCESS) sharedGeneration().moveOn();
  return status;
}

std::optional<uint64_t> Store::generation() { return sharedGeneration().current(); }

LSTATUS Store::attempt(Mode mode, const std::function<LSTATUS(Store &)> &body) {
  auto deadline = std::chrono::steady_clock::now() + RetryLimit;
  for (;;) {
    try {
      check(sqlite3_exec(db_, mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr));
      LSTATUS status = body(*this);
      check(sqlite3_exec(db_, status == ERROR_SUCCESS ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr));
      return status;
    } catch (const StoreFailure &failure) {
      if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      if (!isBusy(failure.code) || std::chrono::steady_clock::now() > deadline) return ERROR_BADDB;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } catch (const std::bad_alloc &) {
      // The transaction goes too: left open, it would fail the next call's.
      if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  }
}

LSTATUS Store::flush() {
  Connection &shared = connection();
  std::lock_guard<std::mutex> guard(shared.lock);
  LSTATUS error;
  sqlite3 *db = shared.get(&error);
  if (db == nullptr) return error;
  int result = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return result == SQLITE_OK || isBusy(result) ? ERROR_SUCCESS : ERROR_BADDB;
}

bool Store::exists(KeyId key) {
  Statement query(db_, "SELECT 1 FROM keys WHERE id = ?1");
  return query.bind(1, key).step();
}

KeyId Store::findChild(KeyId parent, const Text &name) {
  Statement query(db_, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
  query.bind(1, parent).bind(2, foldName(name));
  return query.step() ? query.integer(0) : 0;
}

KeyId Store::createChild(KeyId parent, const Text &name, const Text &className) {
  Statement insert(db_, "INSERT INTO keys(parent, name, fold, class, written) VALUES(?1, ?2, ?3, ?4, ?5)");
  insert.bind(1, parent).bind(2, name).bind(3, foldName(name));
  if (className.empty()) {
    insert.bindNull(4);
  } else {
    insert.bind(4, className);
  }
  insert.bind(5, fileTimeNow()).run();
  touch(parent);
  return sqlite3_last_insert_rowid(db_);
}

bool Store::hasChildren(KeyId key) {
  Statement query(db_, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
  return query.bind(1, key).step();
}

void Store::removeTree(KeyId key) {
  Statement parent(db_, "SELECT parent FROM keys WHERE id = ?1");
  KeyId above = parent.bind(1, key).step() && !parent.isNull(0) ? parent.integer(0) : 0;
  parent.run();
  const char *const tree =
      "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) ";
  Statement values(db_, (std::string(tree) + "DELETE FROM vals WHERE key IN (SELECT id FROM tree)").c_str());
  values.bind(1, key).run();
  Statement keys(db_, (std::string(tree) + "DELETE FROM keys WHERE id IN (SELECT id FROM tree)").c_str());
  keys.bind(1, key).run();
  if (above != 0) touch(above);
}

void Store::removeChildren(KeyId key) {
  Statement children(db_, "SELECT id FROM keys WHERE parent = ?1");
  children.bind(1, key);
  std::vector<KeyId> ids;
  while (children.step()) ids.push_back(children.integer(0));
  for (KeyId child : ids) removeTree(child);
}

bool Store::subKeyAt(KeyId key, DWORD index, SubKey &out) {
  Statement query(db_, "SELECT name, class, written FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
  query.bind(1, key).bind(2, static_cast<int64_t>(index));
  if (!query.step()) return false;
  out.name = query.text(0);
  out.className = query.isNull(1) ? Text() : query.text(1);
  out.written = query.integer(2);
  return true;
}

std::vector<KeyId> Store::grandchildrenNamed(KeyId key, const Text &name) {
  Statement query(db_,
                  "SELECT grandchild.id FROM keys AS child JOIN keys AS grandchild ON grandchild.parent = child.id "
                  "WHERE child.parent = ?1 AND grandchild.fold = ?2 ORDER BY child.fold");
  query.bind(1, key).bind(2, foldName(name));
  std::vector<KeyId> found;
  while (query.step()) found.push_back(query.integer(0));
  return found;
}

KeyStatistics Store::statistics(KeyId key) {
  KeyStatistics out;
  Statement self(db_, "SELECT class, written FROM keys WHERE id = ?1");
  if (self.bind(1, key).step()) {
    out.className = self.isNull(0) ? Text() : self.text(0);
    out.written = self.integer(1);
  }
  self.run();
  Statement keys(db_,
                 "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(class)), 0) "
                 "FROM keys WHERE parent = ?1");
  if (keys.bind(1, key).step()) {
    out.subKeys = static_cast<DWORD>(keys.integer(0));
    out.maxSubKeyName = static_cast<DWORD>(keys.integer(1) / 2);
    out.maxClassName = static_cast<DWORD>(keys.integer(2) / 2);
  }
  keys.run();
  Statement values(db_,
                   "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) "
                   "FROM vals WHERE key = ?1");
  if (values.bind(1, key).step()) {
    out.values = static_cast<DWORD>(values.integer(0));
    out.maxValueName = static_cast<DWORD>(values.integer(1) / 2);
    out.maxValueData = static_cast<DWORD>(values.integer(2));
  }
  values.run();
  return out;
}

bool Store::findValue(KeyId key, const Text &name, Value &out) {
  Statement query(db_, "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2");
  query.bind(1, key).bind(2, foldName(name));
  if (!query.step()) return false;
  out.name = query.text(0);
  out.type = static_cast<DWORD>(query.integer(1));
  out.data = query.bytes(2);
  query.run();
  return true;
}

void Store::setValue(KeyId key, const Text &name, DWORD type, const Bytes &data) {
  // A value set again keeps the case its name was first given.
  Statement update(db_, "UPDATE vals SET type = ?3, data = ?4 WHERE key = ?1 AND fold = ?2");
  update.bind(1, key).bind(2, foldName(name)).bind(3, static_cast<int64_t>(type)).bind(4, data).run();
  if (sqlite3_changes(db_) == 0) {
    Statement insert(db_, "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)");
    insert.bind(1, key).bind(2, foldName(name)).bind(3, name).bind(4, static_cast<int64_t>(type)).bind(5, data).run();
  }
  touch(key);
}

bool Store::removeValue(KeyId key, const Text &name) {
  Statement remove(db_, "DELETE FROM vals WHERE key = ?1 AND fold = ?2");
  remove.bind(1, key).bind(2, foldName(name)).run();
  if (sqlite3_changes(db_) == 0) return false;
  touch(key);
  return true;
}

void Store::removeValues(KeyId key) {
  Statement remove(db_, "DELETE FROM vals WHERE key = ?1");
  remove.bind(1, key).run();
  touch(key);
}

bool Store::valueAt(KeyId key, DWORD index, Value &out) {
  Statement query(db_, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
  query.bind(1, key).bind(2, static_cast<int64_t>(index));
  if (!query.step()) return false;
  out.name = query.text(0);
  out.type = static_cast<DWORD>(query.integer(1));
  out.data = query.bytes(2);
  query.run();
  return true;
}

KeyId Store::classesRoot() {
  KeyId software = findChild(LocalMachineId, wide(u"Software"));
  if (software == 0) software = createChild(LocalMachineId, wide(u"Software"), Text());
  KeyId classes = findChild(software, wide(u"Classes"));
  return classes != 0 ? classes : createChild(software, wide(u"Classes"), Text());
}

void Store::touch(KeyId key) {
  Statement update(db_, "UPDATE keys SET written = ?2 WHERE id = ?1");
  update.bind(1, key).bind(2, fileTimeNow()).run();
}

}  // namespace platform::registry
