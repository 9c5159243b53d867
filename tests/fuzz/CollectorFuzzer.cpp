// Leaves arbitrary bytes in the shared memory where a host publishes its tree,
// as a broken or hostile host could, and asks the collector for performance
// data as the system's reader would. Collect must answer with data that a
// strict reader walks by its lengths alone, or with no data; it never writes
// past the reader's buffer and never reads past what is mapped.
//
// An input is one byte of choices, then the bytes of the data section:
//   bits 0-1  the query: none, "Global", "Costly", or a list of indices
//   bit 2     a buffer too short for any object
//   bit 3     the directory gives half the bytes as the tree's length
//   bit 4     the directory claims up to a page more than the section holds
//   bit 5     the directory is not one (wrong magic)
// A directory that stays odd, or names a section that cannot be mapped, makes
// the reader retry for a fifth of a second; those are left to the publishing
// tests, since a fuzzer that hit them would do little else.
//
// Run for a while from the build folder of the fuzzers (<src> is the source
// tree); the new inputs it finds stay in ./corpus for the next run:
//   mkdir -p corpus && bin/collector_fuzzer corpus <src>/tests/fuzz/seeds/collector \
//     -max_len=8192 -malloc_limit_mb=64 -entropic=0 -runs=1000000
// CTest runs it briefly (see tests/fuzz/CMakeLists.txt).
#include <windows.h>
#include <winperf.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzHost.h"
#include "PerfCollector.h"
#include "PerfData.h"

namespace {

const WCHAR Directory[] = OLESTR("Global\\rvZedaZuvivurAzodav.Tree.FuzzedHost");
const WCHAR DataSection[] = OLESTR("Global\\rvZedaZuvivurAzodav.Tree.FuzzedHost#1");

// The directory as the publisher lays it out.
struct DirectoryFields {
  DWORD magic;
  DWORD version;
  LONG sequence;
  DWORD dataSection;
  DWORD length;
  DWORD capacity;
  ULONG generation;
  DWORD reserved;
  LONGLONG publishedTime;
  LONGLONG publishedFrequency;
};

rv::collector::PerfCollector *collector = nullptr;

struct Closer {
  void operator()(void *handle) const { CloseHandle(handle); }
};
struct Unmapper {
  void operator()(void *view) const { UnmapViewOfFile(view); }
};
using Handle = std::unique_ptr<void, Closer>;
using View = std::unique_ptr<void, Unmapper>;

// Creates a section of `size` bytes holding `bytes`; it lives while both
// owners do.
bool makeSection(const WCHAR *name, const void *bytes, size_t size, Handle &handle, View &view) {
  handle.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), name));
  if (!handle) return false;
  view.reset(MapViewOfFile(handle.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
  if (!view) return false;
  std::memcpy(view.get(), bytes, size);
  return true;
}

void fail(const char *what, const std::string &problem = {}) {
  std::fprintf(stderr, "%s %s\n", what, problem.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_host::start();
  // The service that names this program as its collector library: the
  // collector matches the library's file name against its own module's.
  WCHAR self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  HKEY key = nullptr;
  const WCHAR open[] = OLESTR("OpenNorvalePerfData");
  if (length == 0 || length >= MAX_PATH ||
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, OLESTR("SYSTEM\\CurrentControlSet\\Services\\FuzzedHost\\Performance"), 0,
                      nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS ||
      RegSetValueExW(key, OLESTR("Library"), 0, REG_SZ, reinterpret_cast<const BYTE *>(self),
                     (length + 1) * sizeof(WCHAR)) != ERROR_SUCCESS ||
      RegSetValueExW(key, OLESTR("Open"), 0, REG_SZ, reinterpret_cast<const BYTE *>(open), sizeof open) !=
          ERROR_SUCCESS)
    fail("cannot register the collector's service");
  RegCloseKey(key);
  collector = new rv::collector::PerfCollector;
  collector->open(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const uint8_t choices = data[0];
  const uint8_t *tree = data + 1;
  const size_t treeSize = size - 1;

  DirectoryFields fields{};
  fields.magic = (choices & 0x20) ? 0x54505653 : 0x54505652;
  fields.version = 2;
  fields.sequence = 2;
  fields.dataSection = 1;
  fields.length = static_cast<DWORD>((choices & 0x08) ? treeSize / 2 : treeSize);
  // Sections are whole pages, so a view may reach to the end of the last one.
  fields.capacity = static_cast<DWORD>((choices & 0x10) ? (treeSize + 4095) / 4096 * 4096 : treeSize);
  fields.generation = 1;
  // A host's clock, or none (the collector then times the data itself).
  fields.publishedTime = 123456789;
  fields.publishedFrequency = (choices & 0x40) ? 0 : 10000000;
  Handle directoryHandle, dataHandle;
  View directoryView, dataView;
  if (!makeSection(Directory, &fields, sizeof fields, directoryHandle, directoryView) ||
      !makeSection(DataSection, tree, treeSize, dataHandle, dataView))
    fail("cannot create the sections");

  static const WCHAR *const queries[] = {nullptr, OLESTR("Global"), OLESTR("Costly"),
                                         OLESTR("10000 10002 x 10004 4294967295")};
  const WCHAR *query = queries[choices & 0x03];
  // Each buffer is exactly as large as the reader says, so that a write past
  // it is a sanitizer report; they are made once, as a reader keeps its own.
  const bool shortBuffer = (choices & 0x04) != 0;
  const DWORD capacity = shortBuffer ? 16 : 1 << 20;
  static const auto shortOne = std::make_unique_for_overwrite<BYTE[]>(sizeof(PERF_DATA_BLOCK) + 16);
  static const auto longOne = std::make_unique_for_overwrite<BYTE[]>(sizeof(PERF_DATA_BLOCK) + (1 << 20));
  const auto &buffer = shortBuffer ? shortOne : longOne;
  void *cursor = buffer.get() + sizeof(PERF_DATA_BLOCK);
  DWORD bytes = capacity, objects = 0;
  const DWORD status = collector->collect(query, &cursor, &bytes, &objects);
  if (status != ERROR_SUCCESS) {
    if (status != ERROR_MORE_DATA || bytes != 0 || objects != 0 || cursor != buffer.get() + sizeof(PERF_DATA_BLOCK))
      fail("a refused collection reported data");
    return 0;
  }
  if (bytes > capacity || cursor != buffer.get() + sizeof(PERF_DATA_BLOCK) + bytes || (bytes == 0) != (objects == 0))
    fail("the collection's lengths disagree");

  PERF_DATA_BLOCK header{};
  std::memcpy(header.Signature, OLESTR("PERF"), 8);
  header.LittleEndian = 1;
  header.Version = 1;
  header.Revision = 1;
  header.HeaderLength = sizeof header;
  header.TotalByteLength = sizeof header + bytes;
  header.NumObjectTypes = objects;
  std::memcpy(buffer.get(), &header, sizeof header);
  perfdata::DataBlock block;
  std::string problem;
  if (!perfdata::parseDataBlock(buffer.get(), header.TotalByteLength, block, problem))
    fail("the collected block does not walk:", problem);
  return 0;
}
