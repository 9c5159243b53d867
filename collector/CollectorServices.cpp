#include "CollectorServices.h"

#include <new>

#include "PublishedTree.h"
#include "TreeSnapshot.h"

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

}  // namespace

std::vector<CollectorService> collectorServices() {
  std::vector<CollectorService> found;
  Key services;
  if (!services.open(HKEY_LOCAL_MACHINE, ServicesPath)) return found;
  WCHAR name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(sizeof name / sizeof name[0]);
    LONG status = RegEnumKeyExW(services.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return found;
    if (status != ERROR_SUCCESS) continue;
    Text performancePath = Text(name, length) + OLESTR("\\Performance");
    Key performance;
    CollectorService service;
    Text openName;
    if (!performance.open(services.get(), performancePath.c_str()) ||
        !readText(performance.get(), OLESTR("Library"), service.library) ||
        !readText(performance.get(), OLESTR("Open"), openName) || openName != OpenEntryPoint)
      continue;
    service.device.assign(name, length);
    service.titled = readDword(performance.get(), OLESTR("First Counter"), service.titles.firstCounter) &&
                     readDword(performance.get(), OLESTR("First Help"), service.titles.firstHelp);
    found.push_back(std::move(service));
  }
}

std::vector<DeviceReport> reportDevices() {
  std::vector<DeviceReport> reports;
  for (const CollectorService &service : collectorServices()) {
    DeviceReport report;
    report.device = service.device;
    std::vector<BYTE> blob;
    const HRESULT read = publishing::readPublishedTree(service.device.c_str(), blob);
    TreeSnapshot tree;
    std::string problem;
    if (read == S_FALSE) {
      report.state = DeviceReport::State::NotRunning;
    } else if (read == HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) {
      report.state = DeviceReport::State::Unreadable;
      report.reason =
          "its directory section holds no tree that this collector reads (it is damaged, its host is "
          "of another version, or it stopped in the middle of a write)";
    } else if (FAILED(read)) {
      report.state = DeviceReport::State::Unreadable;
      report.reason = "its published tree cannot be opened";
      report.failure = read;
    } else if (!readTreeSnapshot(blob.data(), blob.size(), tree, problem)) {
      report.state = DeviceReport::State::Unreadable;
      report.reason = "its published tree is damaged: " + problem;
    } else {
      report.state = DeviceReport::State::Published;
    }
    reports.push_back(std::move(report));
  }
  return reports;
}

}  // namespace rv::collector
