// File mapping objects over the paging file and their views, with the checks
// and error codes of Windows (those that Wine gives where both were tried).
// The bytes and the life of a name are section_store.h's.
#include <windows.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "codepage.h"
#include "file_system.h"
#include "handles.h"
#include "section_store.h"
#include "view_guard.h"

namespace platform::kernel {

namespace {

using WideString = std::basic_string<WCHAR>;

// Views start at multiples of Windows' allocation granularity, and their
// length is checked against the section's size in whole Windows pages.
constexpr uint64_t AllocationGranularity = 65536;
constexpr uint64_t WindowsPage = 4096;
// The longest name an object name of Windows (a UNICODE_STRING) can hold.
constexpr size_t LongestName = 32767;

class FileMapping : public KernelObject {
 public:
  FileMapping(std::shared_ptr<SectionStorage> storage, DWORD rights) : storage_(std::move(storage)), rights_(rights) {}
  const SectionStorage &storage() const { return *storage_; }
  DWORD rights() const { return rights_; }

 private:
  std::shared_ptr<SectionStorage> storage_;
  DWORD rights_;  // SECTION_* rights of the handle
};

// The process's views, by base address, with the length they take.
struct ViewTable {
  std::mutex lock;
  std::map<uintptr_t, size_t> views;
};

ViewTable &viewTable() {
  static ViewTable *table = new ViewTable;  // views may be unmapped from static destructors
  return *table;
}

// The view that holds `address`; the table's lock must be held.
std::map<uintptr_t, size_t>::iterator viewAt(ViewTable &table, LPCVOID address) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  auto view = table.views.upper_bound(at);
  if (view == table.views.begin()) return table.views.end();
  --view;
  return at - view->first < view->second ? view : table.views.end();
}

template <typename Result> Result fail(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

// Running out of memory fails a call like any other reason does; nothing is
// thrown into the caller.
template <typename Result, typename Work> Result failingOnNoMemory(Result failure, Work &&work) {
  try {
    return work();
  } catch (const std::bad_alloc &) {
    return fail(ERROR_NOT_ENOUGH_MEMORY, failure);
  }
}

uint64_t roundUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

bool isWritable(DWORD protection) { return protection == PAGE_READWRITE || protection == PAGE_EXECUTE_READWRITE; }

bool isExecutable(DWORD protection) {
  return protection == PAGE_EXECUTE_READ || protection == PAGE_EXECUTE_READWRITE ||
         protection == PAGE_EXECUTE_WRITECOPY;
}

// Whether flProtect names a section over the paging file: one page protection
// that a view can read, with SEC_COMMIT or SEC_RESERVE at most (both commit
// here, which a program written for reserved pages cannot tell).
DWORD checkProtection(DWORD flProtect) {
  const DWORD attributes = flProtect & ~0xFFu;
  if (attributes & SEC_IMAGE) return ERROR_BAD_EXE_FORMAT;  // the paging file holds no program
  if (attributes != 0 && attributes != SEC_COMMIT && attributes != SEC_RESERVE) return ERROR_INVALID_PARAMETER;
  const DWORD protection = flProtect & 0xFF;
  return protection == PAGE_READONLY || protection == PAGE_READWRITE || protection == PAGE_WRITECOPY ||
                 isExecutable(protection)
             ? ERROR_SUCCESS
             : ERROR_INVALID_PARAMETER;
}

// A handle from CreateFileMapping may map the views its protection allows,
// even when the section existed with another one.
DWORD rightsForProtection(DWORD protection) {
  DWORD rights = STANDARD_RIGHTS_REQUIRED | SECTION_QUERY | SECTION_MAP_READ;
  if (isWritable(protection)) rights |= SECTION_MAP_WRITE;
  if (isExecutable(protection)) rights |= SECTION_MAP_EXECUTE;
  return rights;
}

// The section rights an access mask asks for, generic rights mapped.
DWORD sectionRights(DWORD access) {
  DWORD rights = access & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (access & GENERIC_READ) rights |= SECTION_QUERY | SECTION_MAP_READ;
  if (access & GENERIC_WRITE) rights |= SECTION_MAP_WRITE;
  if (access & GENERIC_EXECUTE) rights |= SECTION_MAP_EXECUTE;
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) rights |= SECTION_ALL_ACCESS;
  return rights;
}

bool startsWith(const WideString &text, const char *prefix) {
  const size_t length = std::strlen(prefix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i)
    if (text[i] != static_cast<WCHAR>(prefix[i])) return false;
  return true;
}

// The namespace and name within it of a non-empty object name, or the error
// Windows gives for it. The name is a path of the object namespace: the
// prefixes are its folders (spelt exactly), and a further backslash leads
// into a folder that does not exist.
DWORD parseName(WideString name, SectionNamespace *space, WideString *inSpace) {
  if (name.size() > LongestName) return ERROR_FILENAME_EXCED_RANGE;
  if (name[0] == '\\') return ERROR_BAD_PATHNAME;
  *space = SectionNamespace::Local;
  if (startsWith(name, "Global\\")) {
    *space = SectionNamespace::Global;
    name.erase(0, 7);
  } else if (startsWith(name, "Local\\")) {
    name.erase(0, 6);
  }
  if (name.empty()) return ERROR_INVALID_NAME;
  if (name.find(u'\\') != WideString::npos) return ERROR_PATH_NOT_FOUND;
  // The namespace folders' own links are objects of another type.
  if (name == u"Global" || name == u"Local" || name == u"Session") return ERROR_INVALID_HANDLE;
  *inSpace = std::move(name);
  return ERROR_SUCCESS;
}

// `name` null or empty: a section without a name.
HANDLE createMapping(HANDLE file, DWORD flProtect, DWORD sizeHigh, DWORD sizeLow, const WideString *name) {
  // NULL stands for the paging file too, as INVALID_HANDLE_VALUE does.
  if (file != INVALID_HANDLE_VALUE && file != nullptr)
    return fail(anyObjectOf(file) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE, HANDLE(nullptr));
  if (DWORD error = checkProtection(flProtect)) return fail(error, HANDLE(nullptr));
  const uint64_t size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  if (size == 0) return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
  const DWORD protection = flProtect & 0xFF;

  std::shared_ptr<SectionStorage> storage;
  bool existed = false;
  DWORD error;
  if (name == nullptr || name->empty()) {
    error = SectionStorage::makeUnnamed(size, protection, &storage);
  } else {
    SectionNamespace space;
    WideString inSpace;
    error = parseName(*name, &space, &inSpace);
    if (error == ERROR_SUCCESS) error = SectionStorage::create(space, inSpace, size, protection, &storage, &existed);
  }
  if (error != ERROR_SUCCESS) return fail(error, HANDLE(nullptr));
  HANDLE handle = insertHandle(std::make_shared<FileMapping>(std::move(storage), rightsForProtection(protection)));
  if (handle == nullptr) return nullptr;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE openMapping(DWORD access, const WideString *name) {
  if (name == nullptr) return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
  // An empty name is the namespace folder itself, no section.
  if (name->empty()) return fail(ERROR_INVALID_HANDLE, HANDLE(nullptr));
  SectionNamespace space;
  WideString inSpace;
  std::shared_ptr<SectionStorage> storage;
  DWORD error = parseName(*name, &space, &inSpace);
  if (error == ERROR_SUCCESS) error = SectionStorage::open(space, inSpace, &storage);
  if (error != ERROR_SUCCESS) return fail(error, HANDLE(nullptr));
  return insertHandle(std::make_shared<FileMapping>(std::move(storage), sectionRights(access)));
}

LPVOID mapView(HANDLE handle, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  std::shared_ptr<FileMapping> mapping = objectOf<FileMapping>(handle);
  if (!mapping) return nullptr;
  const SectionStorage &storage = mapping->storage();

  // Writing wins over copying, copying over reading; no access at all maps
  // pages that cannot be touched.
  const bool writes = (access & FILE_MAP_WRITE) != 0;
  const bool copies = !writes && (access & FILE_MAP_COPY) != 0;
  const bool reads = writes || copies || (access & FILE_MAP_READ) != 0;
  const bool executes = (access & FILE_MAP_EXECUTE) != 0;
  const DWORD needed = (writes  ? SECTION_MAP_WRITE
                        : reads ? SECTION_MAP_READ
                                : 0) |
                       (executes ? SECTION_MAP_EXECUTE : 0);
  if ((mapping->rights() & needed) != needed || (writes && !isWritable(storage.protection())) ||
      (executes && !isExecutable(storage.protection())))
    return fail(ERROR_ACCESS_DENIED, LPVOID(nullptr));

  const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  if (offset % AllocationGranularity != 0) return fail(ERROR_MAPPED_ALIGNMENT, LPVOID(nullptr));
  const uint64_t extent = roundUp(storage.size(), WindowsPage);
  if (offset >= extent) return fail(ERROR_INVALID_PARAMETER, LPVOID(nullptr));
  if (bytes > extent - offset) return fail(ERROR_ACCESS_DENIED, LPVOID(nullptr));
  const size_t length = bytes != 0 ? bytes : static_cast<size_t>(extent - offset);

  const int protection = (reads ? PROT_READ : 0) | (writes || copies ? PROT_WRITE : 0) | (executes ? PROT_EXEC : 0);
  void *view = mmap(nullptr, length, protection, copies ? MAP_PRIVATE : MAP_SHARED, storage.descriptor(),
                    storage.dataOffset() + static_cast<off_t>(offset));
  if (view == MAP_FAILED)
    return fail(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : errorFromErrno(errno, {}), LPVOID(nullptr));
  ViewTable &table = viewTable();
  std::lock_guard<std::mutex> guard(table.lock);
  try {
    table.views[reinterpret_cast<uintptr_t>(view)] = roundUp(length, static_cast<uint64_t>(sysconf(_SC_PAGESIZE)));
  } catch (const std::bad_alloc &) {
    munmap(view, length);
    throw;
  }
  guardView(view, length, protection);
  return view;
}

}  // namespace

}  // namespace platform::kernel

using namespace platform::kernel;

HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect, DWORD dwMaximumSizeHigh,
                                 DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  return failingOnNoMemory(HANDLE(nullptr), [&] {
    const WideString name = lpName != nullptr ? WideString(lpName) : WideString();
    return createMapping(hFile, flProtect, dwMaximumSizeHigh, dwMaximumSizeLow, &name);
  });
}

HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect, DWORD dwMaximumSizeHigh,
                                 DWORD dwMaximumSizeLow, LPCSTR lpName) {
  return failingOnNoMemory(HANDLE(nullptr), [&] {
    const WideString name = lpName != nullptr ? AnsiToWide(lpName, std::strlen(lpName)) : WideString();
    return createMapping(hFile, flProtect, dwMaximumSizeHigh, dwMaximumSizeLow, &name);
  });
}

HANDLE WINAPI OpenFileMappingW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  return failingOnNoMemory(HANDLE(nullptr), [&] {
    if (lpName == nullptr) return openMapping(dwDesiredAccess, nullptr);
    const WideString name(lpName);
    return openMapping(dwDesiredAccess, &name);
  });
}

HANDLE WINAPI OpenFileMappingA(DWORD dwDesiredAccess, BOOL, LPCSTR lpName) {
  return failingOnNoMemory(HANDLE(nullptr), [&] {
    if (lpName == nullptr) return openMapping(dwDesiredAccess, nullptr);
    const WideString name = AnsiToWide(lpName, std::strlen(lpName));
    return openMapping(dwDesiredAccess, &name);
  });
}

LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  return failingOnNoMemory(LPVOID(nullptr), [&] {
    return mapView(hFileMappingObject, dwDesiredAccess, dwFileOffsetHigh, dwFileOffsetLow, dwNumberOfBytesToMap);
  });
}

BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
  ViewTable &table = viewTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto view = viewAt(table, lpBaseAddress);
  if (view == table.views.end()) return fail(ERROR_INVALID_ADDRESS, FALSE);
  unguardView(reinterpret_cast<void *>(view->first));
  munmap(reinterpret_cast<void *>(view->first), view->second);
  table.views.erase(view);
  return TRUE;
}

BOOL WINAPI FlushViewOfFile(LPCVOID lpBaseAddress, SIZE_T dwNumberOfBytesToFlush) {
  ViewTable &table = viewTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto view = viewAt(table, lpBaseAddress);
  if (view == table.views.end() ||
      dwNumberOfBytesToFlush > view->first + view->second - reinterpret_cast<uintptr_t>(lpBaseAddress))
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  return TRUE;
}
