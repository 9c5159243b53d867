#include "tool_support.h"

#include "CommandLine.h"
#include "SystemMessage.h"
#include "Utf8Text.h"

#include <cstdio>

namespace tools {

using commandline::fromUtf8;

LONG openKey(HKEY root, const Wide &path, REGSAM access, RegKey &key) {
  return RegOpenKeyExW(root, path.c_str(), 0, access, key.out());
}

LONG createKey(HKEY root, const Wide &path, RegKey &key) {
  return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.out(),
                         nullptr);
}

LONG readDword(HKEY key, const Wide &name, DWORD &value) {
  DWORD type = 0, size = sizeof value;
  LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
  if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value)))
    return ERROR_INVALID_DATA;
  return status;
}

LONG writeDword(HKEY key, const Wide &name, DWORD value) {
  return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

LONG readNameTable(HKEY language, const Wide &valueName, NameTable &table) {
  table.clear();
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExW(language, valueName.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_MULTI_SZ || size % sizeof(WCHAR) != 0) return ERROR_INVALID_DATA;
  Wide data(size / sizeof(WCHAR), 0);
  status = RegQueryValueExW(language, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size);
  if (status != ERROR_SUCCESS) return status;
  data.resize(size / sizeof(WCHAR));

  std::vector<Wide> strings;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find(WCHAR(0), start);
    if (end == Wide::npos) end = data.size();
    if (end == start) break;  // the empty string that ends the list
    strings.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  if (strings.size() % 2 != 0) return ERROR_INVALID_DATA;
  for (size_t at = 0; at < strings.size(); at += 2) {
    DWORD index = 0;
    const Wide &number = strings[at];
    if (number.empty() || number.size() > 9) return ERROR_INVALID_DATA;
    for (WCHAR c : number) {
      if (c < u'0' || c > u'9') return ERROR_INVALID_DATA;
      index = index * 10 + static_cast<DWORD>(c - u'0');
    }
    table.push_back(NameEntry{index, strings[at + 1]});
  }
  return ERROR_SUCCESS;
}

LONG writeNameTable(HKEY language, const Wide &valueName, const NameTable &table) {
  Wide data;
  for (const NameEntry &entry : table) {
    data += fromUtf8(std::to_string(entry.index));
    data.push_back(0);
    data += entry.text;
    data.push_back(0);
  }
  data.push_back(0);
  return RegSetValueExW(language, valueName.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()),
                        static_cast<DWORD>(data.size() * sizeof(WCHAR)));
}

void check(LONG status, const std::string &what) {
  if (status != ERROR_SUCCESS) throw Failure{status, what + ": " + commandline::systemText(static_cast<DWORD>(status))};
}

void openServiceKey(const std::string &driver, RegKey &service) {
  LONG status = openKey(HKEY_LOCAL_MACHINE, fromUtf8(ServicesPath) + commandline::fromCodePage(CP_ACP, driver),
                        KEY_ALL_ACCESS, service);
  if (status == ERROR_FILE_NOT_FOUND)
    throw Failure{status, "The service key of " + driver + " (HKEY_LOCAL_MACHINE\\" + ServicesPath + driver +
                              ") does not exist."};
  check(status, "Unable to open the service key of " + driver);
}

int reportWork(const std::function<std::string()> &work) {
  try {
    std::printf("Info: %s\n", work().c_str());
    return 0;
  } catch (const Failure &failure) {
    std::fprintf(stderr, "Error: %s\n", failure.message.c_str());
    return commandline::exitStatusOf(failure.code);
  }
}

}  // namespace tools
