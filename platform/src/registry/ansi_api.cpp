// The 8-bit registry functions. Names and string data are converted through
// the system code page (CP_ACP) and kept as UTF-16, as Windows keeps them, so
// a value set through one form reads back the same through the other.
#include "kernel/codepage.h"
#include "registry/handles.h"
#include "registry/performance_data.h"
#include "registry/wide_api.h"

#include <cstring>
#include <optional>

using namespace platform::registry;
using platform::kernel::AnsiToWide;

namespace {

// A converted name; a null name stays null.
class WideName {
 public:
  explicit WideName(LPCSTR text) {
    if (text != nullptr) text_ = AnsiToWide(text, std::strlen(text));
  }
  LPCWSTR get() const { return text_ ? text_->c_str() : nullptr; }

 private:
  std::optional<Text> text_;
};

Bytes wideData(DWORD type, const BYTE *data, DWORD size) {
  if (!isStringType(type)) return Bytes(data, data + size);
  Text wide = AnsiToWide(reinterpret_cast<const char *>(data), size);
  const BYTE *bytes = reinterpret_cast<const BYTE *>(wide.data());
  return Bytes(bytes, bytes + wide.size() * sizeof(WCHAR));
}

}  // namespace

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  WideName subKey(lpSubKey), className(lpClass);
  return RegCreateKeyExW(hKey, subKey.get(), Reserved, const_cast<LPWSTR>(className.get()), dwOptions, samDesired,
                         lpSecurityAttributes, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return RegCreateKeyW(hKey, WideName(lpSubKey).get(), phkResult);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  return RegOpenKeyExW(hKey, WideName(lpSubKey).get(), ulOptions, samDesired, phkResult);
}

LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return RegOpenKeyW(hKey, WideName(lpSubKey).get(), phkResult);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) { return RegDeleteKeyW(hKey, WideName(lpSubKey).get()); }

LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) { return RegDeleteTreeW(hKey, WideName(lpSubKey).get()); }

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return RegDeleteValueW(hKey, WideName(lpValueName).get());
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                              DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  Bytes data = wideData(dwType, lpData, cbData);
  return RegSetValueExW(hKey, WideName(lpValueName).get(), Reserved, dwType, data.data(),
                        static_cast<DWORD>(data.size()));
}

LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD cbData) {
  if (lpData == nullptr) return ERROR_INVALID_PARAMETER;
  WideName data(lpData);
  return RegSetValueW(hKey, WideName(lpSubKey).get(), dwType, data.get(), cbData);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  // Performance data is binary and comes back unchanged; only name and help
  // texts are converted.
  if (hKey == HKEY_PERFORMANCE_DATA)
    return queryPerformanceData(WideName(lpValueName).get(), lpReserved, lpType, lpData, lpcbData, true);
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Value value;
  LSTATUS status = queryValue(hKey, WideName(lpValueName).get(), lpReserved, value);
  if (status != ERROR_SUCCESS) return status;
  return handOutData(Form<char>::data(value), lpType, lpData, lpcbData, 1);
}

LSTATUS WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  // Read the UTF-16 text in full, then hand it out converted.
  LONG wideSize = 0;
  WideName subKey(lpSubKey);
  LSTATUS status = RegQueryValueW(hKey, subKey.get(), nullptr, &wideSize);
  if (status != ERROR_SUCCESS) return status;
  Text text(static_cast<size_t>(wideSize) / sizeof(WCHAR) + 1, 0);
  status = RegQueryValueW(hKey, subKey.get(), text.data(), &wideSize);
  if (status != ERROR_SUCCESS) return status;
  text.resize(static_cast<size_t>(wideSize) / sizeof(WCHAR));
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text.data());
  Value value = Form<char>::data(Value{Text(), REG_SZ, Bytes(bytes, bytes + text.size() * sizeof(WCHAR))});
  DWORD size = lpcbData != nullptr ? static_cast<DWORD>(*lpcbData) : 0;
  status = handOutData(value, nullptr, reinterpret_cast<LPBYTE>(lpData), lpcbData != nullptr ? &size : nullptr, 1);
  if (lpcbData != nullptr) *lpcbData = static_cast<LONG>(size);
  return status;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return enumKeyAs(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return enumValueAs(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime) {
  return queryInfoKeyAs(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                        lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
}
