// Performance data as Windows documents it, for the consumers that read
// HKEY_PERFORMANCE_DATA and for the performance libraries that provide it.
//
// A service contributes when its Performance key, under
// HKLM\SYSTEM\CurrentControlSet\Services\<service>, names a Library and
// that library's Open, Collect and Close entry points. The library is loaded
// with LoadLibraryW, so a bare name, a Windows path and a POSIX path all work
// as they do everywhere on the platform, and opened once, with no device
// names, when a query first needs it. It stays open until
// RegCloseKey(HKEY_PERFORMANCE_DATA), or until the process exits. Every query
// calls each open library's Collect in turn, each writing at the cursor into
// the caller's own buffer, after the header.
//
// A library runs inside the caller's process, as on Windows. Windows wraps
// each call into a library in an exception handler and drops a library that
// faults; the platform catches no signals, so a library that crashes inside
// Open, Collect or Close takes the calling process down with it. What it can
// check, it does: an answer that does not add up is left out of the result.
#include "registry/performance_data.h"

#include "kernel/codepage.h"
#include "registry/store.h"
#include "registry/wide_api.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform::registry {

namespace {

Text wide(const char *ascii) { return Text(ascii, ascii + std::strlen(ascii)); }

// Objects, and the whole answer, are laid out in whole 8-byte units.
constexpr DWORD Alignment = 8;
DWORD alignUp(size_t size) { return static_cast<DWORD>((size + Alignment - 1) / Alignment * Alignment); }

// ---- The libraries ---------------------------------------------------------

// What a service's Performance key names. The key's id tells services
// apart: a key deleted and made again is a new one.
struct Provider {
  KeyId key = 0;
  Text library;
  std::string open, collect, close;
  bool operator==(const Provider &) const = default;
};

// A text value of the key, without its terminators; false when it is missing
// or not text.
bool readText(Store &store, KeyId key, const char *name, Text &text) {
  Value value;
  if (!store.findValue(key, wide(name), value) || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) return false;
  text.assign(reinterpret_cast<const WCHAR *>(value.data.data()), value.data.size() / sizeof(WCHAR));
  text.erase(std::find(text.begin(), text.end(), WCHAR(0)), text.end());
  return !text.empty();
}

// The services that name a library and its three entry points, in the
// order of their names, read in one transaction.
LSTATUS readProviders(std::vector<Provider> &providers) {
  return Store::run(Store::Mode::Read, [&](Store &store) -> LSTATUS {
    providers.clear();
    KeyId services;
    if (openPath(store, LocalMachineId, {wide("SYSTEM"), wide("CurrentControlSet"), wide("Services")}, services) !=
        ERROR_SUCCESS)
      return ERROR_SUCCESS;
    for (KeyId key : store.grandchildrenNamed(services, wide("Performance"))) {
      Provider provider;
      provider.key = key;
      Text open, collect, close;
      if (!readText(store, key, "Library", provider.library) || !readText(store, key, "Open", open) ||
          !readText(store, key, "Collect", collect) || !readText(store, key, "Close", close))
        continue;
      provider.open = kernel::WideToAnsi(open.data(), open.size());
      provider.collect = kernel::WideToAnsi(collect.data(), collect.size());
      provider.close = kernel::WideToAnsi(close.data(), close.size());
      providers.push_back(std::move(provider));
    }
    return ERROR_SUCCESS;
  });
}

// A library loaded for a provider. One that could not be loaded or opened
// stays in the table, unloaded, so that it is not tried again at every query.
struct Library {
  Provider provider;
  HMODULE module = nullptr;
  PM_COLLECT_PROC *collect = nullptr;
  PM_CLOSE_PROC *close = nullptr;
  bool isOpen() const { return collect != nullptr; }
};

void closeExitingProcess();

template <typename Proc> Proc *entry(HMODULE module, const std::string &name) {
  return reinterpret_cast<Proc *>(reinterpret_cast<void (*)()>(GetProcAddress(module, name.c_str())));
}

// The libraries of this process. One lock serialises every call into them,
// since a library need not be written for two callers at once; the store's
// own lock is never held meanwhile, so a library may read the registry.
class Libraries {
 public:
  std::mutex lock;

  // The open library for provider, loaded and opened now if it is new or
  // its registration changed; nullptr when it cannot be used.
  Library *ready(const Provider &provider) {
    auto found = table_.find(provider.key);
    if (found != table_.end() && found->second.provider == provider)
      return found->second.isOpen() ? &found->second : nullptr;
    if (found != table_.end()) {
      unload(found->second);
      table_.erase(found);
    }
    Library &library = table_.emplace(provider.key, Library{provider}).first->second;
    library.module = LoadLibraryW(provider.library.c_str());
    if (library.module == nullptr) return nullptr;
    // Its static objects were set up as it loaded, so their destructors run
    // at exit before a handler registered now: Close still finds them alive.
    std::atexit(closeExitingProcess);
    auto *open = entry<PM_OPEN_PROC>(library.module, provider.open);
    auto *collect = entry<PM_COLLECT_PROC>(library.module, provider.collect);
    auto *close = entry<PM_CLOSE_PROC>(library.module, provider.close);
    if (open == nullptr || collect == nullptr || close == nullptr || open(nullptr) != ERROR_SUCCESS) {
      FreeLibrary(library.module);
      library.module = nullptr;
      return nullptr;
    }
    library.collect = collect;
    library.close = close;
    return &library;
  }

  void closeAll() {
    for (auto &[key, library] : table_) unload(library);
    table_.clear();
  }

 private:
  static void unload(Library &library) {
    if (library.isOpen()) library.close();
    if (library.module != nullptr) FreeLibrary(library.module);
    library = Library{library.provider};
  }

  std::map<KeyId, Library> table_;
};

Libraries &libraries() {
  static Libraries *table = new Libraries;  // outlives the handlers that run at exit
  return *table;
}

void closeExitingProcess() {
  Libraries &table = libraries();
  std::lock_guard<std::mutex> guard(table.lock);
  table.closeAll();
}

// ---- The data block --------------------------------------------------------

// Whether what a library reports is what it could have written: no more
// than it was given, in whole 8-byte units, the cursor moved by exactly that
// much, and as many objects as it counts whose lengths add up to it.
bool consistent(const BYTE *start, DWORD given, const void *cursor, DWORD bytes, DWORD objects) {
  if (bytes > given || bytes % Alignment != 0 || cursor != start + bytes) return false;
  DWORD at = 0;
  for (DWORD i = 0; i < objects; ++i) {
    DWORD length = 0;
    if (bytes - at < sizeof(PERF_OBJECT_TYPE)) return false;
    std::memcpy(&length, start + at, sizeof length);
    if (length < sizeof(PERF_OBJECT_TYPE) || length % Alignment != 0 || length > bytes - at) return false;
    at += length;
  }
  return at == bytes;
}

// The computer's name as Windows gives it: the host name up to its first
// dot, in capitals, at most 15 characters.
Text systemName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return wide("LOCALHOST");
  Text name;
  for (const char *c = host; *c != 0 && *c != '.' && name.size() < 15; ++c)
    name.push_back(static_cast<WCHAR>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : static_cast<unsigned char>(*c)));
  return name;
}

void writeHeader(BYTE *data, DWORD headerLength, DWORD total, DWORD objects, const Text &name) {
  PERF_DATA_BLOCK block = {};
  const char signature[] = "PERF";
  std::copy(signature, signature + 4, block.Signature);
  block.LittleEndian = 1;
  block.Version = PERF_DATA_VERSION;
  block.Revision = PERF_DATA_REVISION;
  block.TotalByteLength = total;
  block.HeaderLength = headerLength;
  block.NumObjectTypes = objects;
  GetSystemTime(&block.SystemTime);
  QueryPerformanceCounter(&block.PerfTime);
  QueryPerformanceFrequency(&block.PerfFreq);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  block.PerfTime100nSec.QuadPart =
      static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  block.SystemNameLength = static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR));
  block.SystemNameOffset = sizeof block;
  std::memset(data, 0, headerLength);
  std::memcpy(data, &block, sizeof block);
  std::memcpy(data + sizeof block, name.data(), name.size() * sizeof(WCHAR));
}

// The data block for a query that every library sees as given. The header
// and system name come first, and the objects from HeaderLength on.
LSTATUS collect(const Text &query, LPBYTE data, LPDWORD size) {
  const Text name = systemName();
  const DWORD headerLength = alignUp(sizeof(PERF_DATA_BLOCK) + (name.size() + 1) * sizeof(WCHAR));
  // Wine reports no size with ERROR_MORE_DATA: the size of performance data
  // can change from one call to the next, so the caller grows its buffer and
  // asks again.
  if (data == nullptr || *size < headerLength) {
    *size = 0;
    return ERROR_MORE_DATA;
  }
  std::vector<Provider> providers;
  LSTATUS status = readProviders(providers);
  if (status != ERROR_SUCCESS) return status;

  DWORD used = headerLength, objects = 0;
  Libraries &table = libraries();
  std::lock_guard<std::mutex> guard(table.lock);
  for (const Provider &provider : providers) {
    Library *library = table.ready(provider);
    if (library == nullptr) continue;
    // Each library gets its own copy of the query, which it may write to.
    Text argument = query;
    LPVOID cursor = data + used;
    DWORD bytes = *size - used, count = 0;
    const DWORD result = library->collect(argument.data(), &cursor, &bytes, &count);
    if (result == ERROR_MORE_DATA) {
      *size = 0;
      return ERROR_MORE_DATA;
    }
    if (result != ERROR_SUCCESS || !consistent(data + used, *size - used, cursor, bytes, count)) continue;
    used += bytes;
    objects += count;
  }
  writeHeader(data, headerLength, used, objects, name);
  *size = used;
  return ERROR_SUCCESS;
}

// ---- Names and help texts --------------------------------------------------

// "Counter [language]" or "Help [language]", with any case: the Perflib
// value to list, and the language's subkey (English, 009, when none is
// given). False for any other name.
bool parseNamesQuery(const Text &query, Text &valueName, Text &language) {
  auto upper = [](WCHAR c) { return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - u'a' + u'A') : c; };
  for (const char *kind : {"Counter", "Help"}) {
    const Text word = wide(kind);
    if (query.size() < word.size() ||
        !std::equal(word.begin(), word.end(), query.begin(), [&](WCHAR a, WCHAR b) { return upper(a) == upper(b); }))
      continue;
    if (query.size() > word.size() && query[word.size()] != u' ') continue;
    valueName = word;
    const size_t first = query.find_first_not_of(u' ', word.size());
    language = first == Text::npos ? wide("009") : query.substr(first);
    return true;
  }
  return false;
}

struct NameEntry {
  DWORD index;
  Text text;
};

// The index and text pairs of a REG_MULTI_SZ name table; a pair whose index
// is not a decimal number is not a name and is left out.
std::vector<NameEntry> parseNameTable(const Bytes &data) {
  Text all(reinterpret_cast<const WCHAR *>(data.data()), data.size() / sizeof(WCHAR));
  std::vector<Text> strings;
  for (size_t start = 0; start < all.size();) {
    size_t end = std::min(all.find(WCHAR(0), start), all.size());
    if (end == start) break;
    strings.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  std::vector<NameEntry> entries;
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    const Text &index = strings[i];
    if (index.size() > 9 || !std::all_of(index.begin(), index.end(), [](WCHAR c) { return c >= u'0' && c <= u'9'; }))
      continue;
    DWORD number = 0;
    for (WCHAR digit : index) number = number * 10 + static_cast<DWORD>(digit - u'0');
    entries.push_back(NameEntry{number, strings[i + 1]});
  }
  return entries;
}

// The installed names or help texts of one language, in increasing index
// order. A list of names begins, as Windows' does, with the pair 1 and the
// last index in use (Perflib's Last Counter, else the highest listed), which
// consumers skip; a list with nothing installed is empty.
LSTATUS readNames(const Text &valueName, const Text &language, Value &out) {
  Value table;
  bool haveTable = false, haveLast = false;
  DWORD last = 0;
  LSTATUS status = Store::run(Store::Mode::Read, [&](Store &store) -> LSTATUS {
    KeyId perflib;
    std::vector<Text> path = {wide("SOFTWARE"), wide("Microsoft"), wide("Windows NT"), wide("CurrentVersion"),
                              wide("Perflib")};
    if (openPath(store, LocalMachineId, path, perflib) != ERROR_SUCCESS) return ERROR_SUCCESS;
    Value lastCounter;
    if (store.findValue(perflib, wide("Last Counter"), lastCounter) && lastCounter.type == REG_DWORD &&
        lastCounter.data.size() == sizeof last) {
      std::memcpy(&last, lastCounter.data.data(), sizeof last);
      haveLast = true;
    }
    KeyId languageKey = store.findChild(perflib, language);
    haveTable = languageKey != 0 && store.findValue(languageKey, valueName, table) && table.type == REG_MULTI_SZ;
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;

  std::vector<NameEntry> entries = haveTable ? parseNameTable(table.data) : std::vector<NameEntry>();
  std::stable_sort(entries.begin(), entries.end(),
                   [](const NameEntry &a, const NameEntry &b) { return a.index < b.index; });
  const bool names = valueName == wide("Counter");
  if (names && (haveLast || !entries.empty()))
    entries.insert(entries.begin(), NameEntry{1, wide(std::to_string(haveLast ? last : entries.back().index).c_str())});
  Text list;
  for (const NameEntry &entry : entries) {
    list += wide(std::to_string(entry.index).c_str());
    list.push_back(0);
    list += entry.text;
    list.push_back(0);
  }
  list.push_back(0);
  const BYTE *bytes = reinterpret_cast<const BYTE *>(list.data());
  out = Value{valueName, REG_MULTI_SZ, Bytes(bytes, bytes + list.size() * sizeof(WCHAR))};
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS queryPerformanceData(LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size, bool ansi) {
  // Wine asks for the size even where no data is wanted.
  if (reserved != nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
  // A missing or empty name asks for Global, as Wine answers it, and the
  // libraries are given that name rather than none.
  const Text query = name != nullptr && *name != 0 ? Text(name) : wide("Global");
  Text valueName, language;
  if (parseNamesQuery(query, valueName, language)) {
    Value names;
    LSTATUS status = readNames(valueName, language, names);
    if (status != ERROR_SUCCESS) return status;
    return ansi ? handOutData(Form<char>::data(names), type, data, size, 1)
                : handOutData(names, type, data, size, sizeof(WCHAR));
  }
  if (type != nullptr) *type = REG_BINARY;
  return collect(query, data, size);
}

LSTATUS closePerformanceData() {
  closeExitingProcess();
  return ERROR_SUCCESS;
}

}  // namespace platform::registry
