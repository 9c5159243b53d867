#include "PerfReader.h"

#include <winperf.h>

#include <cstdint>
#include <cstring>

namespace perfdata {
namespace {

// Windows documents that the size handed back with ERROR_MORE_DATA is no
// guide for HKEY_PERFORMANCE_DATA (Wine hands back 0), so the buffer doubles
// up to this bound.
constexpr DWORD largestOffer = 256u * 1024 * 1024;

template <typename T> T readAt(const std::vector<BYTE> &data, uint64_t at) {
  T value;
  memcpy(&value, data.data() + at, sizeof value);
  return value;
}

// Whether the bytes at `at` can be a PERF_OBJECT_TYPE: its lengths nest as
// documented and the object fits inside `limit`. Zero bytes never can.
bool plausibleObject(const std::vector<BYTE> &data, uint64_t at, uint64_t limit) {
  if (at + sizeof(PERF_OBJECT_TYPE) > limit) return false;
  auto object = readAt<PERF_OBJECT_TYPE>(data, at);
  return object.HeaderLength >= sizeof(PERF_OBJECT_TYPE) && object.DefinitionLength >= object.HeaderLength &&
         object.TotalByteLength >= object.DefinitionLength && at + object.TotalByteLength <= limit;
}

}  // namespace

PerfReader::~PerfReader() {
  if (used_) RegCloseKey(HKEY_PERFORMANCE_DATA);
}

LONG PerfReader::queryData(const WCHAR *what, std::vector<BYTE> &data) { return query(what, data, true); }

LONG PerfReader::queryText(const WCHAR *what, std::vector<BYTE> &data) { return query(what, data, false); }

LONG PerfReader::query(const WCHAR *what, std::vector<BYTE> &data, bool dataBlock) {
  used_ = true;
  for (;;) {
    // Zeroed each time, so that nothing of an earlier reply can pass for an
    // object in the place Wine skips.
    data.assign(size_t{offered_} + wineObjectGap, 0);
    DWORD size = offered_;
    LONG result = RegQueryValueExW(HKEY_PERFORMANCE_DATA, what, nullptr, nullptr, data.data(), &size);
    if (result == ERROR_MORE_DATA) {
      if (offered_ >= largestOffer) {
        data.clear();
        return result;
      }
      offered_ = offered_ > largestOffer / 2 ? largestOffer : offered_ * 2;
      continue;
    }
    if (result != ERROR_SUCCESS) {
      data.clear();
      return result;
    }
    if (dataBlock) repairWineObjectGap(data);
    data.resize(size < offered_ ? size : offered_);
    return ERROR_SUCCESS;
  }
}

bool repairWineObjectGap(std::vector<BYTE> &data) {
  if (data.size() < sizeof(PERF_DATA_BLOCK)) return false;
  auto header = readAt<PERF_DATA_BLOCK>(data, 0);
  static const WCHAR signature[4] = {'P', 'E', 'R', 'F'};
  if (memcmp(header.Signature, signature, sizeof signature) != 0 || header.NumObjectTypes == 0) return false;
  uint64_t limit = data.size();
  uint64_t documented = header.HeaderLength;
  if (plausibleObject(data, documented, limit)) return false;

  uint64_t shifted = documented + wineObjectGap;
  uint64_t end = shifted;
  for (DWORD object = 0; object < header.NumObjectTypes; ++object) {
    if (!plausibleObject(data, end, limit)) return false;
    end += readAt<PERF_OBJECT_TYPE>(data, end).TotalByteLength;
  }
  bool gapLeftOut = end == uint64_t{header.TotalByteLength} + wineObjectGap;
  bool gapCounted = end == header.TotalByteLength;
  if (!gapLeftOut && !gapCounted) return false;

  memmove(data.data() + documented, data.data() + shifted, end - shifted);
  memset(data.data() + end - wineObjectGap, 0, wineObjectGap);
  if (gapCounted) {
    header.TotalByteLength -= wineObjectGap;
    memcpy(data.data() + offsetof(PERF_DATA_BLOCK, TotalByteLength), &header.TotalByteLength,
           sizeof header.TotalByteLength);
  }
  return true;
}

}  // namespace perfdata
