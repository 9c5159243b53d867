#include "PerfCollector.h"

#include <new>
#include <string>
#include <utility>
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
  std::vector<std::unique_ptr<DeviceReading>> released;
  EnterCriticalSection(&lock_);
  if (opened_ > 0) --opened_;
  // The last Close lets the sections go; they close outside the lock.
  if (opened_ == 0) released.swap(idle_);
  LeaveCriticalSection(&lock_);
}

// A device's kept state, taken from the idle ones for one call (or made
// anew) and given back at its end. State that saw a failure (no tree, a
// damaged one, running out of memory) is dropped instead: the next call
// starts afresh, and a host that stopped leaves no section held.
class PerfCollector::Borrowed {
 public:
  Borrowed(PerfCollector &owner, const Text &device) : owner_(owner) {
    EnterCriticalSection(&owner_.lock_);
    for (auto it = owner_.idle_.begin(); it != owner_.idle_.end(); ++it) {
      if ((*it)->device == device) {
        reading_ = std::move(*it);
        owner_.idle_.erase(it);
        break;
      }
    }
    LeaveCriticalSection(&owner_.lock_);
    if (!reading_) reading_ = std::make_unique<DeviceReading>(device);
  }
  Borrowed(const Borrowed &) = delete;
  Borrowed &operator=(const Borrowed &) = delete;
  // State that cannot be given back for want of memory is dropped; the
  // sections close outside the lock.
  ~Borrowed() {
    if (!keep_) return;
    EnterCriticalSection(&owner_.lock_);
    // Kept state is worth the memory only while the collector is open.
    if (owner_.opened_ > 0) {
      // A call that ran beside this one may have given back its own state of
      // the device meanwhile; the later one is kept.
      bool replaced = false;
      for (auto &idle : owner_.idle_) {
        if (idle->device == reading_->device) {
          std::swap(idle, reading_);
          replaced = true;
          break;
        }
      }
      try {
        if (!replaced) owner_.idle_.push_back(std::move(reading_));
      } catch (const std::bad_alloc &) {
      }
    }
    LeaveCriticalSection(&owner_.lock_);
  }
  DeviceReading &operator*() const { return *reading_; }
  void keep() { keep_ = true; }

 private:
  PerfCollector &owner_;
  std::unique_ptr<DeviceReading> reading_;
  bool keep_ = false;
};

std::vector<PerfCollector::Served> PerfCollector::servedDevices() const {
  std::vector<Served> served;
  DWORD position = 0;  // among the services that name this module
  for (const CollectorService &service : collectorServices()) {
    if (lstrcmpiW(fileNameOf(service.library).c_str(), moduleFile_.c_str()) != 0) continue;
    const DWORD fallback = FallbackStep * position++;
    served.push_back({service.device, service.titled
                                          ? service.titles
                                          : TitleBase{FallbackFirstCounter + fallback, FallbackFirstHelp + fallback}});
  }
  return served;
}

bool PerfCollector::readInto(DeviceReading &reading, TitleBase titles, publishing::PublishedClock &publishedAt) {
  AnswerPlan &plan = reading.plan;
  const bool planned = plan.built() && plan.titledBy(titles);
  bool taken = false;
  // The visit sees the section's bytes in place, which the host may rewrite
  // meanwhile; only a visit that the reader reports stable counts.
  const HRESULT read = reading.reader.read(
      [&](const BYTE *bytes, size_t size) {
        taken = planned && plan.takeValues(bytes, size);
        if (!taken) reading.copy.assign(bytes, bytes + size);
      },
      &publishedAt);
  // A service whose host is not running has nothing to show.
  if (read != S_OK) return false;
  if (taken) return true;
  std::string problem;
  if (!plan.build(reading.copy.data(), reading.copy.size(), titles, problem)) {
    OutputDebugStringA(("rvPerfCollector: published tree refused: " + problem + "\n").c_str());
    return false;
  }
  return true;
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
  const std::vector<Served> served = servedDevices();
  for (const Served &device : served) {
    Borrowed reading(*this, device.device);
    publishing::PublishedClock at;
    if (!readInto(*reading, device.titles, at)) continue;
    DWORD written = 0, objectsWritten = 0;
    // Each object carries its host's clock, the time the tree was published,
    // so that a reader that samples faster than the host publishes sees no
    // time pass where no count changed.
    const PerfClock clock = at.frequency > 0 ? PerfClock{at.time, at.frequency} : now;
    DWORD status = (*reading).plan.write(wanted, clock, cursor, capacity - total, written, objectsWritten);
    reading.keep();
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
  // The state of a device whose service went away goes with it.
  for (auto &idle : idle_) {
    bool stillServed = false;
    for (const Served &device : served) stillServed |= device.device == idle->device;
    if (!stillServed) idle.reset();
  }
  std::erase(idle_, nullptr);
  LeaveCriticalSection(&lock_);
  return ERROR_SUCCESS;
}

}  // namespace rv::collector
