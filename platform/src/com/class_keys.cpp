#include "com/class_keys.h"

#include <new>
#include <vector>

namespace platform::com {

std::optional<WideText> readClassesText(const WideText &subKey, LPCWSTR name) {
  HKEY key;
  LSTATUS opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (opened == ERROR_NOT_ENOUGH_MEMORY) throw std::bad_alloc();
  if (opened != ERROR_SUCCESS) return std::nullopt;
  std::optional<WideText> text;
  DWORD type = REG_NONE, size = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  // The value may grow between the two calls; read until it fits.
  std::vector<BYTE> data;
  while (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    data.resize(size + sizeof(WCHAR));
    DWORD capacity = static_cast<DWORD>(data.size());
    status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &capacity);
    if (status == ERROR_MORE_DATA) {
      size = capacity;
      status = ERROR_SUCCESS;
      continue;
    }
    if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      WideText value(reinterpret_cast<const WCHAR *>(data.data()), capacity / sizeof(WCHAR));
      text = value.substr(0, value.find(WCHAR(0)));
    }
    break;
  }
  RegCloseKey(key);
  if (status == ERROR_NOT_ENOUGH_MEMORY) throw std::bad_alloc();
  return text;
}

WideText classKeyPath(REFCLSID rclsid) {
  OLECHAR text[39];
  StringFromGUID2(rclsid, text, 39);
  return WideText(OLESTR("CLSID\\")) + text;
}

}  // namespace platform::com
