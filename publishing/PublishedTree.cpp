#include "PublishedTree.h"

#include "SectionSecurity.h"

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

namespace rv::publishing {

namespace {

constexpr DWORD DirectoryMagic = 0x54505652;  // "RVPT"
constexpr DWORD LayoutVersion = 2;
// A data section grows in whole steps, with room to spare, so that a tree
// whose instances come and go does not move on every publish.
constexpr size_t GrowthStep = 64 * 1024;
// How often a reader retries a copy that the host overwrote meanwhile before
// it reports no data; a host writes a tree in well under a millisecond.
constexpr int ReadAttempts = 200;

// Holds a critical section for a scope; a name or a section that cannot be
// allocated throws, and the section is left all the same.
class Held {
 public:
  explicit Held(CRITICAL_SECTION &lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  Held(const Held &) = delete;
  Held &operator=(const Held &) = delete;
  ~Held() { LeaveCriticalSection(&lock_); }

 private:
  CRITICAL_SECTION &lock_;
};

const WCHAR GlobalScope[] = OLESTR("Global\\");
const WCHAR LocalScope[] = OLESTR("Local\\");

// The directory section, shared by the host and every reader.
struct Directory {
  DWORD magic;
  DWORD version;
  LONG sequence;  // odd while the host writes
  DWORD dataSection;
  DWORD length;
  DWORD capacity;
  ULONG generation;
  DWORD reserved;
  // When the host published the tree, by the system's performance counter,
  // so that a reader times a count's change by the host's clock.
  LONGLONG publishedTime;
  LONGLONG publishedFrequency;
};

LONG loadSequence(Directory *directory) {
  return std::atomic_ref<LONG>(directory->sequence).load(std::memory_order_acquire);
}

void bumpSequence(Directory *directory) {
  std::atomic_ref<LONG>(directory->sequence).fetch_add(1, std::memory_order_acq_rel);
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(Handle &&other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  Handle &operator=(Handle &&other) noexcept {
    std::swap(h_, other.h_);
    return *this;
  }
  ~Handle() {
    if (h_) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_ = nullptr;
};

class View {
 public:
  View() = default;
  explicit View(void *p) : p_(p) {}
  View(View &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  View &operator=(View &&other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~View() {
    if (p_) UnmapViewOfFile(p_);
  }
  BYTE *bytes() const { return static_cast<BYTE *>(p_); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  void *p_ = nullptr;
};

// One mapped section: its handle and a view of all of it.
struct Section {
  Handle handle;
  View view;
};

HRESULT lastError() {
  DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

Text dataName(const Text &directory, DWORD number) {
  Text name = directory + OLESTR("#");
  char digits[16];
  int count = wsprintfA(digits, "%lu", static_cast<unsigned long>(number));
  name.append(digits, digits + count);
  return name;
}

// A name held by someone whom readers do not trust: the host moves to the
// next scope, and readers look there too.
const HRESULT HeldByAnOutsider = HRESULT_FROM_WIN32(ERROR_INVALID_OWNER);

HRESULT createSection(const Text &name, size_t size, SectionSecurity &security, Section &out, bool &existed) {
  ULONGLONG wide = size;
  Handle handle(CreateFileMappingW(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE,
                                   static_cast<DWORD>(wide >> 32), static_cast<DWORD>(wide), name.c_str()));
  if (!handle) return lastError();
  // A section that already exists belongs to someone else; it is not mapped.
  existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (existed) return checkSectionOwner(handle.get());
  View view(MapViewOfFile(handle.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
  if (!view) return lastError();
  out.handle = std::move(handle);
  out.view = std::move(view);
  return S_OK;
}

// Opens a section for reading, once its owner is one this reader trusts.
HRESULT openSection(const Text &name, size_t size, Section &out) {
  Handle handle(OpenFileMappingW(FILE_MAP_READ | READ_CONTROL, FALSE, name.c_str()));
  if (!handle) return lastError();
  if (HRESULT hr = checkSectionOwner(handle.get()); FAILED(hr)) return hr;
  View view(MapViewOfFile(handle.get(), FILE_MAP_READ, 0, 0, size));
  if (!view) return lastError();
  out.handle = std::move(handle);
  out.view = std::move(view);
  return S_OK;
}

bool notFound(HRESULT hr) { return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); }

}  // namespace

Text directoryName(const WCHAR *scope, const WCHAR *device) {
  Text name = scope;
  name += OLESTR("rvZedaZuvivurAzodav.Tree.");
  if (device) name += device;
  return name;
}

// What the host holds while its tree is published.
struct TreePublisher::Sections {
  SectionSecurity security;
  Text directoryName;
  Section directory;
  Section data;
  ULONG generation = 0;

  Directory *header() const { return reinterpret_cast<Directory *>(directory.view.bytes()); }
};

TreePublisher::TreePublisher(const WCHAR *device) : device_(device ? device : OLESTR("")), sections_(nullptr) {
  InitializeCriticalSection(&lock_);
}

TreePublisher::~TreePublisher() {
  withdraw();
  DeleteCriticalSection(&lock_);
}

HRESULT TreePublisher::publish(const BYTE *blob, size_t size) {
  if (!blob && size) return E_POINTER;
  if (size > 0x7FFFFFFF) return E_INVALIDARG;
  Held guard(lock_);
  HRESULT hr = S_OK;
  if (!sections_) {
    auto fresh = std::make_unique<Sections>();
    hr = fresh->security.prepare();
    if (FAILED(hr)) return hr;
    bool existed = false;
    for (const WCHAR *scope : {GlobalScope, LocalScope}) {
      fresh->directoryName = directoryName(scope, device_.c_str());
      hr = createSection(fresh->directoryName, sizeof(Directory), fresh->security, fresh->directory, existed);
      if (hr != E_ACCESSDENIED && hr != HeldByAnOutsider) break;
    }
    // A second host of the same device would overwrite the first one's tree
    // under its feet; the first one keeps it.
    if (SUCCEEDED(hr) && existed) hr = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    if (FAILED(hr)) return hr;
    Directory *header = fresh->header();
    header->version = LayoutVersion;
    header->sequence = 0;
    std::atomic_ref<DWORD>(header->magic).store(DirectoryMagic, std::memory_order_release);
    sections_ = fresh.release();
  }

  Directory *header = sections_->header();
  Section grown;
  bool moving = size > header->capacity || !sections_->data.view;
  DWORD number = header->dataSection;
  size_t capacity = header->capacity;
  if (moving) {
    number = header->dataSection + 1;
    capacity = (size + size / 2 + GrowthStep) / GrowthStep * GrowthStep;
    // A section of that number may outlive an earlier host while a reader
    // still holds it; it is left to that reader and the next number taken.
    bool existed = true;
    for (int tries = 0; SUCCEEDED(hr) && existed && tries < 16; ++tries, ++number) {
      grown = Section();
      hr = createSection(dataName(sections_->directoryName, number), capacity, sections_->security, grown, existed);
      // So is a name that an object of another kind holds, a section that
      // someone cut short while a reader still holds it, or one that someone
      // else made.
      if (hr == HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE) || hr == HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT) ||
          hr == HeldByAnOutsider) {
        hr = S_OK;
        existed = true;
      }
    }
    --number;
    if (SUCCEEDED(hr) && existed) hr = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  }
  if (SUCCEEDED(hr)) {
    BYTE *target = moving ? grown.view.bytes() : sections_->data.view.bytes();
    bumpSequence(header);
    // An empty tree may come as a null blob, which memcpy must never see,
    // even for no bytes.
    if (size != 0) std::memcpy(target, blob, size);
    header->dataSection = number;
    header->capacity = static_cast<DWORD>(capacity);
    header->length = static_cast<DWORD>(size);
    header->generation = ++sections_->generation;
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    header->publishedTime = now.QuadPart;
    header->publishedFrequency = frequency.QuadPart;
    bumpSequence(header);
    // The old data section closes only now that the directory names the new
    // one; a reader still copying from it sees the sequence move and retries.
    if (moving) sections_->data = std::move(grown);
  }
  return hr;
}

HRESULT TreePublisher::publish(IPerfMgr *manager) {
  if (!manager) return E_POINTER;
  // The blob and its access go on every path, a publish that throws included.
  struct Blob {
    VARIANT value;
    bool accessed = false;
    Blob() { VariantInit(&value); }
    ~Blob() {
      if (accessed) SafeArrayUnaccessData(value.parray);
      VariantClear(&value);
    }
  } blob;
  HRESULT hr = manager->get_MyBlob(static_cast<RVBlobTypeEnum>(0), &blob.value);
  if (SUCCEEDED(hr) && blob.value.vt != (VT_ARRAY | VT_UI1)) hr = DISP_E_TYPEMISMATCH;
  void *bytes = nullptr;
  if (SUCCEEDED(hr)) hr = SafeArrayAccessData(blob.value.parray, &bytes);
  if (FAILED(hr)) return hr;
  blob.accessed = true;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(blob.value.parray, 1, &lower);
  SafeArrayGetUBound(blob.value.parray, 1, &upper);
  return publish(static_cast<const BYTE *>(bytes), static_cast<size_t>(upper - lower + 1));
}

void TreePublisher::withdraw() {
  EnterCriticalSection(&lock_);
  if (sections_) {
    // A reader that still holds the directory for a moment finds it marked
    // empty; once every handle is closed the names are gone.
    Directory *header = sections_->header();
    bumpSequence(header);
    std::atomic_ref<DWORD>(header->magic).store(0, std::memory_order_release);
    bumpSequence(header);
    delete std::exchange(sections_, nullptr);
  }
  LeaveCriticalSection(&lock_);
}

ULONG TreePublisher::generation() const {
  EnterCriticalSection(&lock_);
  ULONG generation = sections_ ? sections_->generation : 0;
  LeaveCriticalSection(&lock_);
  return generation;
}

// The data section a reader holds between reads, with the number and size
// the directory gave it.
struct PublishedTreeReader::Mapping {
  Section section;
  DWORD number = 0;
  DWORD capacity = 0;
};

PublishedTreeReader::PublishedTreeReader(const WCHAR *device)
    : device_(device ? device : OLESTR("")), data_(new Mapping) {}

PublishedTreeReader::~PublishedTreeReader() { delete data_; }

HRESULT PublishedTreeReader::read(const std::function<void(const BYTE *, size_t)> &visit, PublishedClock *clock) {
  // Whatever ends the read but a tree leaves no section held: a host that
  // stopped takes its names with it, as it would without this reader.
  struct Release {
    Mapping &data;
    HRESULT result = S_FALSE;
    ~Release() {
      if (result != S_OK) data = Mapping();
    }
  } release{*data_};

  Section directory;
  Text name;
  HRESULT hr = S_OK;
  bool heldByAnOutsider = false;
  for (const WCHAR *scope : {GlobalScope, LocalScope}) {
    name = directoryName(scope, device_.c_str());
    hr = openSection(name, sizeof(Directory), directory);
    // A name that someone else took first may hide the host's own tree in
    // the next scope, where the host publishes then.
    if (hr == HeldByAnOutsider)
      heldByAnOutsider = true;
    else if (!notFound(hr))
      break;
  }
  if (notFound(hr) || hr == HeldByAnOutsider) {
    if (heldByAnOutsider) return release.result = HeldByAnOutsider;
    return S_FALSE;
  }
  if (FAILED(hr)) return release.result = hr;

  auto header = reinterpret_cast<Directory *>(directory.view.bytes());
  Mapping &data = *data_;
  const LONG first = loadSequence(header);
  bool moved = false;
  for (int attempt = 0; attempt < ReadAttempts; ++attempt) {
    if (attempt) Sleep(attempt < 10 ? 0 : 1);
    LONG before = loadSequence(header);
    moved = moved || before != first;
    if (before & 1) continue;
    // What does not change while the host is not writing is no race but
    // the state of the sections: a withdrawn tree, or damage to report.
    auto stable = [&] { return loadSequence(header) == before; };
    const DWORD magic = std::atomic_ref<DWORD>(header->magic).load(std::memory_order_acquire);
    if (magic == 0) return S_FALSE;
    if (magic != DirectoryMagic || header->version != LayoutVersion) {
      if (stable()) return release.result = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
      continue;
    }
    DWORD number = header->dataSection, length = header->length, capacity = header->capacity;
    const PublishedClock published{header->publishedTime, header->publishedFrequency};
    if (length > capacity) {
      if (stable()) return release.result = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
      continue;
    }
    // The view is exactly as large as the directory says; a section smaller
    // than that cannot be mapped at that size, so the visit below stays
    // inside what is mapped even when the fields were read mid-write. A
    // section held from an earlier read is the one of that number: its name
    // lived as long as it was held, so no other host could make another.
    if (!data.section.view || number != data.number || capacity != data.capacity) {
      data = Mapping();
      if (HRESULT opened = openSection(dataName(name, number), capacity, data.section); FAILED(opened)) {
        if (stable()) return release.result = opened;
        continue;
      }
      data.number = number;
      data.capacity = capacity;
    }
    visit(data.section.view.bytes(), length);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (stable()) {
      if (clock != nullptr) *clock = published;
      return release.result = S_OK;
    }
  }
  // A sequence that stayed odd without moving is no write under way: the
  // directory is damaged, or its host stopped in the middle of a write.
  if (!moved && (first & 1)) return release.result = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  // The host kept writing.
  return S_FALSE;
}

HRESULT readPublishedTree(const WCHAR *device, std::vector<BYTE> &blob, PublishedClock *clock) {
  blob.clear();
  PublishedTreeReader reader(device);
  const HRESULT hr = reader.read([&](const BYTE *bytes, size_t size) { blob.assign(bytes, bytes + size); }, clock);
  if (hr != S_OK) blob.clear();
  return hr;
}

}  // namespace rv::publishing
