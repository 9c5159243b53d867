#include "PerfCollector.h"

#include <new>
#include <string>
#include <vector>

#include "PublishedTree.h"

namespace rv::collector {

namespace {

const WCHAR ServicesPath[] = OLESTR("SYSTEM\\CurrentControlSet\\Services");
const WCHAR OpenEntryPoint[] = OLESTR("OpenNorvalePerfData");

class Key {
 public:
  Key() = default;
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  bool open(HKEY parent, const WCHAR *path) { return RegOpenKeyExW(parent, path, 0, KEY_READ, &key_) == ERROR_SUCCESS; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool readText(HKEY key, const WCHAR *name, Text &out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > 64 * 1024) return false;
  std::vector<WCHAR> units(size / sizeof(WCHAR) + 1, WCHAR());
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(units.data()), &size) != ERROR_SUCCESS)
    return false;
  units[size / sizeof(WCHAR)] = WCHAR();
  out = units.data();
  return true;
}

// A value that could not be read for want of memory is not a missing one:
// the fallback would give the reader other name indices.
bool readDword(HKEY key, const WCHAR *name, DWORD &out) {
  DWORD type = 0, value = 0, size = sizeof value;
  const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
  if (status == ERROR_NOT_ENOUGH_MEMORY) throw std::bad_alloc();
  if (status != ERROR_SUCCESS || type != REG_DWORD) return false;
  out = value;
  return true;
}

// The file name of a path in either form, without its folder.
Text fileNameOf(const Text &path) {
  size_t cut = path.find_last_of(OLESTR("\\/"));
  return cut == Text::npos ? path : path.substr(cut + 1);
}

bool sameText(const Text &a, const Text &b) {
  return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

}  // namespace

PerfCollector::PerfCollector() { InitializeCriticalSection(&lock_); }

PerfCollector::~PerfCollector() { DeleteCriticalSection(&lock_); }

DWORD PerfCollector::open(HMODULE self) {
  EnterCriticalSection(&lock_);
  if (opened_++ == 0) {
    WCHAR path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(self, path, static_cast<DWORD>(sizeof path / sizeof path[0]));
    moduleFile_ = fileNameOf(Text(path, length));
  }
  LeaveCriticalSection(&lock_);
  return ERROR_SUCCESS;
}

void PerfCollector::close() {
  EnterCriticalSection(&lock_);
  if (opened_ > 0) --opened_;
  LeaveCriticalSection(&lock_);
}

std::vector<PerfCollector::PublishedTree> PerfCollector::publishedTrees() const {
  std::vector<PublishedTree> trees;
  Key services;
  if (!services.open(HKEY_LOCAL_MACHINE, ServicesPath)) return trees;
  WCHAR name[256];
  DWORD position = 0;  // among the services that name this module
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(sizeof name / sizeof name[0]);
    LONG status = RegEnumKeyExW(services.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return trees;
    if (status != ERROR_SUCCESS) continue;
    Text performancePath = Text(name, length) + OLESTR("\\Performance");
    Key performance;
    Text library, openName;
    if (!performance.open(services.get(), performancePath.c_str()) ||
        !readText(performance.get(), OLESTR("Library"), library) || !readText(performance.get(), OLESTR("Open"), openName) ||
        openName != OpenEntryPoint || !sameText(fileNameOf(library), moduleFile_))
      continue;
    const DWORD fallback = FallbackStep * position++;
    // A service whose host is not running has nothing to show.
    PublishedTree tree;
    tree.device.assign(name, length);
    if (publishing::readPublishedTree(tree.device.c_str(), tree.blob, &tree.published) != S_OK) continue;
    if (!readDword(performance.get(), OLESTR("First Counter"), tree.titles.firstCounter) ||
        !readDword(performance.get(), OLESTR("First Help"), tree.titles.firstHelp))
      tree.titles = {FallbackFirstCounter + fallback, FallbackFirstHelp + fallback};
    trees.push_back(std::move(tree));
  }
}

DWORD PerfCollector::collect(const WCHAR *query, void **data, DWORD *bytes, DWORD *objects) {
  if (!data || !*data || !bytes || !objects) return ERROR_INVALID_PARAMETER;
  DWORD capacity = *bytes;
  *bytes = 0;
  *objects = 0;

  EnterCriticalSection(&lock_);
  bool opened = opened_ > 0;
  LeaveCriticalSection(&lock_);
  // Running out of memory is a failure like any other but a short buffer: it
  // is answered with no data, and the reader's next query tries again. Nothing
  // may be thrown into the system's reader.
  try {
    return collectFrom(opened, query, data, bytes, objects, capacity);
  } catch (const std::bad_alloc &) {
    *bytes = 0;
    *objects = 0;
    return ERROR_SUCCESS;
  }
}

DWORD PerfCollector::collectFrom(bool opened, const WCHAR *query, void **data, DWORD *bytes, DWORD *objects,
                                 DWORD capacity) {
  EnterCriticalSection(&lock_);
  const bool servedAlready = servedEnd_ != nullptr && *data == servedEnd_;
  LeaveCriticalSection(&lock_);
  if (!opened || servedAlready) return ERROR_SUCCESS;

  LARGE_INTEGER time{}, frequency{};
  QueryPerformanceCounter(&time);
  QueryPerformanceFrequency(&frequency);
  const PerfClock now{time.QuadPart, frequency.QuadPart};
  const ObjectQuery wanted(query);
  BYTE *cursor = static_cast<BYTE *>(*data);
  DWORD total = 0, count = 0;
  for (const PublishedTree &published : publishedTrees()) {
    TreeSnapshot tree;
    std::string problem;
    if (!readTreeSnapshot(published.blob.data(), published.blob.size(), tree, problem)) {
      OutputDebugStringA(("rvPerfCollector: published tree refused: " + problem + "\n").c_str());
      continue;
    }
    DWORD written = 0, objectsWritten = 0;
    // Each object carries its host's clock, the time the tree was published,
    // so that a reader that samples faster than the host publishes sees no
    // time pass where no count changed.
    const PerfClock clock = published.published.frequency > 0
                                ? PerfClock{published.published.time, published.published.frequency}
                                : now;
    DWORD status = writePerfData(tree, wanted, published.titles, clock, cursor, capacity - total, written,
                                 objectsWritten);
    if (status != ERROR_SUCCESS) return status;  // nothing of this query counts as written
    cursor += written;
    total += written;
    count += objectsWritten;
  }
  *data = cursor;
  *bytes = total;
  *objects = count;
  EnterCriticalSection(&lock_);
  servedEnd_ = total != 0 ? cursor : nullptr;
  LeaveCriticalSection(&lock_);
  return ERROR_SUCCESS;
}

}  // namespace rv::collector
