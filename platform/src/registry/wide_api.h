// Steps of the UTF-16 registry functions that the 8-bit ones share.
#pragma once

#include "registry/store.h"

#include <vector>

namespace platform::registry {

// Splits a subkey path at its backslashes. ERROR_BAD_PATHNAME for a path
// that begins with one, ERROR_INVALID_PARAMETER for a name over 255 units.
LSTATUS parsePath(LPCWSTR path, std::vector<Text> &parts);
LSTATUS openPath(Store &store, KeyId base, const std::vector<Text> &parts, KeyId &key);
KeyId createPath(Store &store, KeyId base, const std::vector<Text> &parts, const Text &className, bool &created);

// One transaction each: a value by name or position, a subkey by position,
// the counts and longest names of a key.
LSTATUS queryValue(HKEY hkey, LPCWSTR name, LPDWORD reserved, Value &value);
LSTATUS enumValue(HKEY hkey, DWORD index, Value &value);
LSTATUS enumKey(HKEY hkey, DWORD index, SubKey &subKey);
LSTATUS keyStatistics(HKEY hkey, KeyStatistics &statistics);

bool isStringType(DWORD type);

// Hands a value's data out as RegQueryValueEx and RegEnumValue do: its type
// and size always; its bytes when the buffer holds them, else
// ERROR_MORE_DATA. A string stored without its terminator gets one (of unit
// bytes) when the buffer has room; the size does not count it.
LSTATUS handOutData(const Value &value, LPDWORD type, LPBYTE data, LPDWORD size, size_t unit);

void writeFileTime(int64_t written, PFILETIME time);

}  // namespace platform::registry
