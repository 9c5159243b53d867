#include "TestCollector.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace {

// The one object a collector writes: two counters, a PERF_COUNTER_RAWCOUNT
// and a PERF_COUNTER_LARGE_RAWCOUNT, and one instance named "Alpha".
struct CollectorObject {
  PERF_OBJECT_TYPE object;
  PERF_COUNTER_DEFINITION counters[2];
  PERF_INSTANCE_DEFINITION instance;
  WCHAR name[8];
  PERF_COUNTER_BLOCK block;
  DWORD count;
  ULONGLONG total;
};

LONG opens = 0;
LONG closes = 0;

CollectorSettings readSettings(const char *service) {
  CollectorSettings settings = {};
  const std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Performance";
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return settings;
  DWORD size = sizeof settings;
  RegQueryValueExA(key, "Test Object", nullptr, nullptr, reinterpret_cast<BYTE *>(&settings), &size);
  RegCloseKey(key);
  return settings;
}

// "Global", or a list of decimal indexes that holds the object's.
bool wanted(const WCHAR *query, DWORD index) {
  std::string text = " ";
  for (; *query != 0; ++query) text.push_back(static_cast<char>(*query));
  text += ' ';
  return text == " Global " || text.find(" " + std::to_string(index) + " ") != std::string::npos;
}

// The documented contract: nothing asked for, or no room, leaves the cursor
// and reports no bytes and no object.
DWORD collect(const char *service, LPWSTR query, LPVOID *data, LPDWORD bytes, LPDWORD objects) {
  const CollectorSettings settings = readSettings(service);
  const DWORD given = *bytes;
  *bytes = 0;
  *objects = 0;
  if (!wanted(query, settings.index)) return ERROR_SUCCESS;
  if (given < sizeof(CollectorObject)) return ERROR_MORE_DATA;

  CollectorObject out = {};
  out.object.TotalByteLength = sizeof out;
  out.object.DefinitionLength = offsetof(CollectorObject, instance);
  out.object.HeaderLength = sizeof out.object;
  out.object.ObjectNameTitleIndex = settings.index;
  out.object.NumCounters = 2;
  out.object.NumInstances = 1;
  const DWORD types[] = {PERF_COUNTER_RAWCOUNT, PERF_COUNTER_LARGE_RAWCOUNT};
  const size_t offsets[] = {offsetof(CollectorObject, count), offsetof(CollectorObject, total)};
  for (DWORD i = 0; i < 2; ++i) {
    out.counters[i].ByteLength = sizeof out.counters[i];
    out.counters[i].CounterNameTitleIndex = settings.index + 2 + 2 * i;
    out.counters[i].CounterType = types[i];
    out.counters[i].CounterSize = i == 0 ? sizeof out.count : sizeof out.total;
    out.counters[i].CounterOffset = static_cast<DWORD>(offsets[i] - offsetof(CollectorObject, block));
  }
  out.instance.ByteLength = offsetof(CollectorObject, block) - offsetof(CollectorObject, instance);
  out.instance.UniqueID = PERF_NO_UNIQUE_ID;
  out.instance.NameOffset = sizeof out.instance;
  out.instance.NameLength = 6 * sizeof(WCHAR);
  const char name[] = "Alpha";
  for (int i = 0; i < 6; ++i) out.name[i] = static_cast<WCHAR>(name[i]);
  out.block.ByteLength = sizeof out - offsetof(CollectorObject, block);
  out.count = settings.count;
  out.total = settings.total;
  std::memcpy(*data, &out, sizeof out);

  *bytes = settings.fault == FaultClaimsMoreThanGiven      ? given + 8
           : settings.fault == FaultSizeNotMultipleOfEight ? sizeof out - 4
                                                           : sizeof out;
  *objects = settings.fault == FaultCountsAnObjectTooMany ? 2 : 1;
  if (settings.fault != FaultPointerNotAdvanced) *data = static_cast<BYTE *>(*data) + *bytes;
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

COLLECTOR_EXPORT DWORD WINAPI OpenCollector(LPWSTR) {
  InterlockedIncrement(&opens);
  return ERROR_SUCCESS;
}

COLLECTOR_EXPORT DWORD WINAPI OpenFailing(LPWSTR) { return ERROR_ACCESS_DENIED; }

COLLECTOR_EXPORT DWORD WINAPI CollectGood(LPWSTR query, LPVOID *data, LPDWORD bytes, LPDWORD objects) {
  return collect(GOOD_SERVICE, query, data, bytes, objects);
}

COLLECTOR_EXPORT DWORD WINAPI CollectFaulty(LPWSTR query, LPVOID *data, LPDWORD bytes, LPDWORD objects) {
  return collect(FAULTY_SERVICE, query, data, bytes, objects);
}

COLLECTOR_EXPORT DWORD WINAPI CloseCollector() {
  InterlockedIncrement(&closes);
  return ERROR_SUCCESS;
}

COLLECTOR_EXPORT void WINAPI CollectorCalls(LONG *openCount, LONG *closeCount) {
  *openCount = opens;
  *closeCount = closes;
}

}  // extern "C"
