// The UTF-16 registry functions. Each call is one transaction of the store;
// a handle is given out only once its transaction has committed.
#include "registry/wide_api.h"

#include "registry/handles.h"
#include "registry/performance_data.h"

#include <algorithm>
#include <cstring>

namespace platform::registry {

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

namespace {

Text textOf(LPCWSTR text) { return text != nullptr ? Text(text) : Text(); }

// One reading transaction over the key behind a handle opened with `access`.
template <typename Body> LSTATUS readKey(HKEY hkey, REGSAM access, Body &&body) {
  return Store::run(Store::Mode::Read, [&](Store &store) -> LSTATUS {
    KeyId key;
    LSTATUS status = resolveKey(store, hkey, access, key);
    return status != ERROR_SUCCESS ? status : body(store, key);
  });
}

}  // namespace

LSTATUS parsePath(LPCWSTR path, std::vector<Text> &parts) {
  parts.clear();
  if (path == nullptr) return ERROR_SUCCESS;
  // A path is relative to its key: it may end in a separator but not begin
  // with one.
  if (path[0] == u'\\') return ERROR_BAD_PATHNAME;
  Text part;
  for (const WCHAR *at = path;; ++at) {
    if (*at == u'\\' || *at == 0) {
      if (!part.empty()) {
        if (part.size() > MaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
      }
      part.clear();
      if (*at == 0) break;
    } else {
      part.push_back(*at);
    }
  }
  return ERROR_SUCCESS;
}

LSTATUS openPath(Store &store, KeyId base, const std::vector<Text> &parts, KeyId &key) {
  key = base;
  for (const Text &part : parts) {
    key = store.findChild(key, part);
    if (key == 0) return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

KeyId createPath(Store &store, KeyId base, const std::vector<Text> &parts, const Text &className, bool &created) {
  created = false;
  KeyId key = base;
  for (const Text &part : parts) {
    KeyId child = store.findChild(key, part);
    if (child == 0) {
      child = store.createChild(key, part, className);
      created = true;
    }
    key = child;
  }
  return key;
}

LSTATUS queryValue(HKEY hkey, LPCWSTR name, LPDWORD reserved, Value &value) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
  Text valueName = textOf(name);
  return readKey(hkey, KEY_QUERY_VALUE, [&](Store &store, KeyId key) -> LSTATUS {
    return store.findValue(key, valueName, value) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS enumValue(HKEY hkey, DWORD index, Value &value) {
  return readKey(hkey, KEY_QUERY_VALUE, [&](Store &store, KeyId key) -> LSTATUS {
    return store.valueAt(key, index, value) ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
  });
}

LSTATUS enumKey(HKEY hkey, DWORD index, SubKey &subKey) {
  return readKey(hkey, KEY_ENUMERATE_SUB_KEYS, [&](Store &store, KeyId key) -> LSTATUS {
    return store.subKeyAt(key, index, subKey) ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
  });
}

LSTATUS keyStatistics(HKEY hkey, KeyStatistics &statistics) {
  return readKey(hkey, KEY_QUERY_VALUE, [&](Store &store, KeyId key) -> LSTATUS {
    statistics = store.statistics(key);
    return ERROR_SUCCESS;
  });
}

LSTATUS handOutData(const Value &value, LPDWORD type, LPBYTE data, LPDWORD size, size_t unit) {
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return ERROR_SUCCESS;
  DWORD needed = static_cast<DWORD>(value.data.size());
  LSTATUS status = ERROR_SUCCESS;
  if (data != nullptr) {
    if (*size < needed) {
      status = ERROR_MORE_DATA;
    } else {
      if (needed > 0) std::memcpy(data, value.data.data(), needed);
      bool terminated =
          needed >= unit && std::all_of(value.data.end() - unit, value.data.end(), [](BYTE b) { return b == 0; });
      if (isStringType(value.type) && !terminated && needed % unit == 0 && *size >= needed + unit)
        std::memset(data + needed, 0, unit);
    }
  }
  *size = needed;
  return status;
}

void writeFileTime(int64_t written, PFILETIME time) {
  if (time == nullptr) return;
  time->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) & 0xffffffffu);
  time->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) >> 32);
}

}  // namespace platform::registry

using namespace platform::registry;

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR lpClass, DWORD, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<Text> parts;
  LSTATUS status = parsePath(lpSubKey, parts);
  if (status != ERROR_SUCCESS) return status;
  Text className = textOf(lpClass);
  KeyId key = 0;
  bool created = false;
  status = Store::run(Store::Mode::Write, [&](Store &store) -> LSTATUS {
    KeyId base;
    LSTATUS found = resolveKey(store, hKey, 0, base);
    if (found != ERROR_SUCCESS) return found;
    key = createPath(store, base, parts, className, created);
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  *phkResult = openHandle(key, grantedAccess(samDesired));
  if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return RegCreateKeyExW(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr, phkResult,
                         nullptr);
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<Text> parts;
  LSTATUS status = parsePath(lpSubKey, parts);
  if (status != ERROR_SUCCESS) return status;
  KeyId key = 0;
  status = Store::run(Store::Mode::Read, [&](Store &store) -> LSTATUS {
    KeyId base;
    LSTATUS found = resolveKey(store, hKey, 0, base);
    if (found != ERROR_SUCCESS) return found;
    return openPath(store, base, parts, key);
  });
  if (status != ERROR_SUCCESS) return status;
  *phkResult = openHandle(key, grantedAccess(samDesired));
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  // The old form hands back the very handle it was given for no subkey.
  if (lpSubKey == nullptr || *lpSubKey == 0) {
    if (!isKnownHandle(hKey)) return ERROR_INVALID_HANDLE;
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExW(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  return hKey == HKEY_PERFORMANCE_DATA ? closePerformanceData() : closeHandle(hKey);
}

LSTATUS WINAPI RegFlushKey(HKEY hKey) {
  if (!isKnownHandle(hKey)) return ERROR_INVALID_HANDLE;
  return Store::flush();
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<Text> parts;
  LSTATUS status = parsePath(lpSubKey, parts);
  if (status != ERROR_SUCCESS) return status;
  return Store::run(Store::Mode::Write, [&](Store &store) -> LSTATUS {
    KeyId base;
    LSTATUS found = resolveKey(store, hKey, parts.empty() ? DELETE : 0, base);
    if (found != ERROR_SUCCESS) return found;
    // The roots of the hives cannot be deleted, nor HKEY_CLASSES_ROOT.
    if (parts.empty() && isPredefined(hKey)) return ERROR_ACCESS_DENIED;
    KeyId key;
    found = openPath(store, base, parts, key);
    if (found != ERROR_SUCCESS) return found;
    if (store.hasChildren(key)) return ERROR_ACCESS_DENIED;
    store.removeTree(key);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  std::vector<Text> parts;
  LSTATUS status = parsePath(lpSubKey, parts);
  if (status != ERROR_SUCCESS) return status;
  return Store::run(Store::Mode::Write, [&](Store &store) -> LSTATUS {
    KeyId base;
    LSTATUS found = resolveKey(store, hKey, 0, base);
    if (found != ERROR_SUCCESS) return found;
    KeyId key;
    found = openPath(store, base, parts, key);
    if (found != ERROR_SUCCESS) return found;
    if (parts.empty()) {
      // Without a subkey the key itself stays; only its contents go.
      store.removeChildren(key);
      store.removeValues(key);
    } else {
      store.removeTree(key);
    }
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  Text name = textOf(lpValueName);
  if (name.size() > MaxValueNameLength) return ERROR_INVALID_PARAMETER;
  Bytes data(lpData, lpData + cbData);
  return Store::run(Store::Mode::Write, [&](Store &store) -> LSTATUS {
    KeyId key;
    LSTATUS status = resolveKey(store, hKey, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS) return status;
    store.setValue(key, name, dwType, data);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegSetValueW(HKEY hKey, LPCWSTR lpSubKey, DWORD dwType, LPCWSTR lpData, DWORD) {
  if (dwType != REG_SZ || lpData == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<Text> parts;
  LSTATUS status = parsePath(lpSubKey, parts);
  if (status != ERROR_SUCCESS) return status;
  // The data is the whole text with its terminator, whatever size is given.
  const BYTE *bytes = reinterpret_cast<const BYTE *>(lpData);
  Bytes data(bytes, bytes + (lstrlenW(lpData) + 1) * sizeof(WCHAR));
  return Store::run(Store::Mode::Write, [&](Store &store) -> LSTATUS {
    KeyId base;
    LSTATUS found = resolveKey(store, hKey, parts.empty() ? KEY_SET_VALUE : 0, base);
    if (found != ERROR_SUCCESS) return found;
    bool created;
    KeyId key = createPath(store, base, parts, Text(), created);
    store.setValue(key, Text(), REG_SZ, data);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  if (hKey == HKEY_PERFORMANCE_DATA)
    return queryPerformanceData(lpValueName, lpReserved, lpType, lpData, lpcbData, false);
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Value value;
  LSTATUS status = queryValue(hKey, lpValueName, lpReserved, value);
  if (status != ERROR_SUCCESS) return status;
  return handOutData(value, lpType, lpData, lpcbData, sizeof(WCHAR));
}

LSTATUS WINAPI RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<Text> parts;
  LSTATUS status = parsePath(lpSubKey, parts);
  if (status != ERROR_SUCCESS) return status;
  Value value;
  bool found = false;
  status = Store::run(Store::Mode::Read, [&](Store &store) -> LSTATUS {
    KeyId base;
    LSTATUS result = resolveKey(store, hKey, parts.empty() ? KEY_QUERY_VALUE : 0, base);
    if (result != ERROR_SUCCESS) return result;
    KeyId key;
    result = openPath(store, base, parts, key);
    if (result != ERROR_SUCCESS) return result;
    found = store.findValue(key, Text(), value);
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  // A key without a default value reads as an empty text.
  if (!found) value = Value{Text(), REG_SZ, Bytes(sizeof(WCHAR), 0)};
  DWORD size = lpcbData != nullptr ? static_cast<DWORD>(*lpcbData) : 0;
  status = handOutData(value, nullptr, reinterpret_cast<LPBYTE>(lpData), lpcbData != nullptr ? &size : nullptr,
                       sizeof(WCHAR));
  if (lpcbData != nullptr) *lpcbData = static_cast<LONG>(size);
  return status;
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  Text name = textOf(lpValueName);
  return Store::run(Store::Mode::Write, [&](Store &store) -> LSTATUS {
    KeyId key;
    LSTATUS status = resolveKey(store, hKey, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS) return status;
    return store.removeValue(key, name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return enumKeyAs(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return enumValueAs(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime) {
  return queryInfoKeyAs(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                        lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
}
