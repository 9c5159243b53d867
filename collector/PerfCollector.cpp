#include "PerfCollector.h"

#include <new>
#include <string>
#include <vector>

#include "CollectorServices.h"
#include "PublishedTree.h"

namespace rv::collector {

namespace {

// The file name of a path in either form, without its folder.
Text fileNameOf(const Text &path) {
  size_t cut = path.find_last_of(OLESTR("\\/"));
  return cut == Text::npos ? path : path.substr(cut + 1);
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
  DWORD position = 0;  // among the services that name this module
  for (const CollectorService &service : collectorServices()) {
    if (lstrcmpiW(fileNameOf(service.library).c_str(), moduleFile_.c_str()) != 0) continue;
    const DWORD fallback = FallbackStep * position++;
    // A service whose host is not running has nothing to show.
    PublishedTree tree;
    tree.device = service.device;
    if (publishing::readPublishedTree(tree.device.c_str(), tree.blob, &tree.publishedAt) != S_OK) continue;
    tree.titles =
        service.titled ? service.titles : TitleBase{FallbackFirstCounter + fallback, FallbackFirstHelp + fallback};
    trees.push_back(std::move(tree));
  }
  return trees;
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
    const publishing::PublishedClock &at = published.publishedAt;
    const PerfClock clock = at.frequency > 0 ? PerfClock{at.time, at.frequency} : now;
    DWORD status =
        writePerfData(tree, wanted, published.titles, clock, cursor, capacity - total, written, objectsWritten);
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
