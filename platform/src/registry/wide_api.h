// Steps of the UTF-16 registry functions that the 8-bit ones share.
#pragma once

#include "kernel/codepage.h"
#include "registry/store.h"

#include <cstring>
#include <string>
#include <utility>

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

// What differs between the UTF-16 and the 8-bit forms of the functions that
// hand out names and data: the names' characters, and string data, which the
// 8-bit forms give as one byte per character of the system code page.
template <typename Char> struct Form;

template <> struct Form<WCHAR> {
  static const Text &name(const Text &text) { return text; }
  static const Value &data(const Value &value) { return value; }
};

template <> struct Form<char> {
  static std::string name(const Text &text) { return kernel::WideToAnsi(text.data(), text.size()); }
  static Value data(const Value &value) {
    if (!isStringType(value.type)) return value;
    std::string ansi =
        kernel::WideToAnsi(reinterpret_cast<const WCHAR *>(value.data.data()), value.data.size() / sizeof(WCHAR));
    return Value{value.name, value.type, Bytes(ansi.begin(), ansi.end())};
  }
};

// Copies a name, terminator included, into a buffer of `capacity` characters
// and sets `capacity` to its length; false, with nothing copied, when it does
// not fit.
template <typename Char, typename Name> bool copyName(const Name &name, Char *buffer, LPDWORD capacity) {
  if (name.size() >= *capacity) return false;
  std::memcpy(buffer, name.data(), name.size() * sizeof(Char));
  buffer[name.size()] = 0;
  *capacity = static_cast<DWORD>(name.size());
  return true;
}

// RegEnumKeyEx in either form.
template <typename Char>
LSTATUS enumKeyAs(HKEY hkey, DWORD index, Char *name, LPDWORD nameCapacity, LPDWORD reserved, Char *className,
                  LPDWORD classCapacity, PFILETIME written) {
  if (name == nullptr || nameCapacity == nullptr || reserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (className != nullptr && classCapacity == nullptr) return ERROR_INVALID_PARAMETER;
  SubKey subKey;
  LSTATUS status = enumKey(hkey, index, subKey);
  if (status != ERROR_SUCCESS) return status;
  const auto keyName = Form<Char>::name(subKey.name);
  const auto keyClass = Form<Char>::name(subKey.className);
  // Neither buffer is written unless both fit.
  if (keyName.size() >= *nameCapacity) return ERROR_MORE_DATA;
  if (className != nullptr && keyClass.size() >= *classCapacity) return ERROR_MORE_DATA;
  copyName(keyName, name, nameCapacity);
  if (className != nullptr) copyName(keyClass, className, classCapacity);
  writeFileTime(subKey.written, written);
  return ERROR_SUCCESS;
}

// RegEnumValue in either form.
template <typename Char>
LSTATUS enumValueAs(HKEY hkey, DWORD index, Char *name, LPDWORD nameCapacity, LPDWORD reserved, LPDWORD type,
                    LPBYTE data, LPDWORD size) {
  if (name == nullptr || nameCapacity == nullptr || reserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  Value value;
  LSTATUS status = enumValue(hkey, index, value);
  if (status != ERROR_SUCCESS) return status;
  const auto valueName = Form<Char>::name(value.name);
  if (valueName.size() >= *nameCapacity) return ERROR_MORE_DATA;
  status = handOutData(Form<Char>::data(value), type, data, size, sizeof(Char));
  if (status != ERROR_SUCCESS) return status;
  copyName(valueName, name, nameCapacity);
  return ERROR_SUCCESS;
}

// RegQueryInfoKey in either form. The system code page has one byte per
// character, so the UTF-16 counts of the longest names are the 8-bit ones.
template <typename Char>
LSTATUS queryInfoKeyAs(HKEY hkey, Char *className, LPDWORD classCapacity, LPDWORD reserved, LPDWORD subKeys,
                       LPDWORD maxSubKeyName, LPDWORD maxClassName, LPDWORD values, LPDWORD maxValueName,
                       LPDWORD maxValueData, LPDWORD securityDescriptor, PFILETIME written) {
  if (reserved != nullptr || (className != nullptr && classCapacity == nullptr)) return ERROR_INVALID_PARAMETER;
  KeyStatistics statistics;
  LSTATUS status = keyStatistics(hkey, statistics);
  if (status != ERROR_SUCCESS) return status;
  const auto keyClass = Form<Char>::name(statistics.className);
  if (className != nullptr && !copyName(keyClass, className, classCapacity)) {
    *classCapacity = static_cast<DWORD>(keyClass.size());
    return ERROR_MORE_DATA;
  }
  if (classCapacity != nullptr) *classCapacity = static_cast<DWORD>(keyClass.size());
  for (auto [out, count] : {std::pair{subKeys, statistics.subKeys},
                            {maxSubKeyName, statistics.maxSubKeyName},
                            {maxClassName, statistics.maxClassName},
                            {values, statistics.values},
                            {maxValueName, statistics.maxValueName},
                            {maxValueData, statistics.maxValueData},
                            // Keys carry no security descriptor of their own here.
                            {securityDescriptor, DWORD{0}}})
    if (out != nullptr) *out = count;
  writeFileTime(statistics.written, written);
  return ERROR_SUCCESS;
}

}  // namespace platform::registry
