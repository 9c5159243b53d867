// reg query <key> [/v name | /ve] [/s]: prints keys and values as Windows'
// reg.exe does (in the layout Wine's reg.exe shows): the key's full name,
// then one line per value, indented four blanks, with its name, its type and
// its data, separated by four blanks. Exit status 0 when something was
// found, 1 otherwise.
#include "ToolOptions.h"
#include "Utf8Text.h"
#include "tool_support.h"

#include <cstdio>
#include <cstring>
#include <string>

using commandline::toUtf8;
using tools::RegKey;
using tools::Wide;

namespace {

constexpr const char *NotFound = "ERROR: The system was unable to find the specified registry key or value.";

const char *typeName(DWORD type) {
  static const char *const Names[] = {"REG_NONE",
                                      "REG_SZ",
                                      "REG_EXPAND_SZ",
                                      "REG_BINARY",
                                      "REG_DWORD",
                                      "REG_DWORD_BIG_ENDIAN",
                                      "REG_LINK",
                                      "REG_MULTI_SZ",
                                      "REG_RESOURCE_LIST",
                                      "REG_FULL_RESOURCE_DESCRIPTOR",
                                      "REG_RESOURCE_REQUIREMENTS_LIST",
                                      "REG_QWORD"};
  return type < sizeof Names / sizeof Names[0] ? Names[type] : "REG_UNKNOWN";
}

std::string dataText(DWORD type, const std::vector<BYTE> &data) {
  const WCHAR *units = reinterpret_cast<const WCHAR *>(data.data());
  size_t count = data.size() / sizeof(WCHAR);
  char buffer[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      Wide text(units, count);
      return toUtf8(text.substr(0, text.find(WCHAR(0))));
    }
    case REG_MULTI_SZ: {
      // The strings joined by the two characters \0, as reg.exe shows them.
      Wide text(units, count);
      while (!text.empty() && text.back() == 0) text.pop_back();
      std::string out;
      size_t start = 0;
      for (;;) {
        size_t end = text.find(WCHAR(0), start);
        out += toUtf8(text.substr(start, end == Wide::npos ? Wide::npos : end - start));
        if (end == Wide::npos) break;
        out += "\\0";
        start = end + 1;
      }
      return out;
    }
    case REG_DWORD:
      if (data.size() == sizeof(DWORD)) {
        DWORD value;
        std::memcpy(&value, data.data(), sizeof value);
        std::snprintf(buffer, sizeof buffer, "0x%x", value);
        return buffer;
      }
      break;
    case REG_QWORD:
      if (data.size() == sizeof(ULONGLONG)) {
        ULONGLONG value;
        std::memcpy(&value, data.data(), sizeof value);
        std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
        return buffer;
      }
      break;
    default: break;
  }
  std::string out;
  for (BYTE b : data) {
    std::snprintf(buffer, sizeof buffer, "%02X", b);
    out += buffer;
  }
  return out;
}

void printValue(const std::string &name, DWORD type, const std::vector<BYTE> &data) {
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : name.c_str(), typeName(type),
              dataText(type, data).c_str());
}

// Reads one value by name; false when it is not there.
bool readValue(HKEY key, const Wide &name, DWORD &type, std::vector<BYTE> &data) {
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  data.assign(size, 0);
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
  data.resize(size);
  return true;
}

std::vector<Wide> subKeys(HKEY key) {
  std::vector<Wide> names;
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

// Prints a key's values (all of them, in the order the registry lists
// them) and then its subkeys, either by name or, with recurse, each in full.
void queryAll(HKEY key, const std::string &path, bool recurse, bool recursing) {
  DWORD values = 0, maxName = 0, maxData = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &maxName, &maxData, nullptr,
                   nullptr);
  if (values > 0 || recursing) std::printf("%s\n", path.c_str());
  for (DWORD index = 0;; ++index) {
    Wide name(maxName + 1, 0);
    DWORD length = maxName + 1, type = 0, size = maxData;
    std::vector<BYTE> data(maxData);
    LONG status = RegEnumValueW(key, index, name.data(), &length, nullptr, &type, data.data(), &size);
    if (status != ERROR_SUCCESS) break;
    data.resize(size);
    printValue(toUtf8(name.substr(0, length)), type, data);
  }
  if (values > 0 || recursing) std::printf("\n");
  for (const Wide &child : subKeys(key)) {
    std::string childPath = path + "\\" + toUtf8(child);
    if (!recurse) {
      std::printf("%s\n", childPath.c_str());
      continue;
    }
    RegKey sub;
    if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, sub.out()) == ERROR_SUCCESS)
      queryAll(sub.get(), childPath, true, true);
  }
}

// Prints the one value in this key (and, with recurse, in every key below),
// as a block each; returns how many were found.
int queryValue(HKEY key, const std::string &path, const Wide &name, const std::string &shownName, bool recurse) {
  int found = 0;
  DWORD type = 0;
  std::vector<BYTE> data;
  if (readValue(key, name, type, data)) {
    std::printf("%s\n", path.c_str());
    printValue(shownName, type, data);
    std::printf("\n");
    ++found;
  }
  if (recurse) {
    for (const Wide &child : subKeys(key)) {
      RegKey sub;
      if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, sub.out()) == ERROR_SUCCESS)
        found += queryValue(sub.get(), path + "\\" + toUtf8(child), name, shownName, true);
    }
  }
  return found;
}

int run(const tools::RegQuery &query) {
  const std::string &path = query.shown;
  RegKey key;
  if (RegOpenKeyExW(query.root, commandline::fromUtf8(query.below).c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
    std::fprintf(stderr, "%s\n", NotFound);
    return 1;
  }
  std::printf("\n");
  if (!query.value) {
    queryAll(key.get(), path, query.recurse, false);
    return 0;
  }
  Wide name = commandline::fromUtf8(*query.value);
  int found = queryValue(key.get(), path, name, *query.value, query.recurse);
  if (found == 0 && query.value->empty() && !query.recurse) {
    // A key always answers for its default value, set or not.
    std::printf("%s\n    (Default)    REG_SZ    (value not set)\n\n", path.c_str());
    return 0;
  }
  if (found == 0) {
    std::fprintf(stderr, "%s\n", NotFound);
    return 1;
  }
  if (query.recurse) std::printf("Search complete. Number of matches found: %d\n", found);
  return 0;
}

}  // namespace

int main(int argc, char **argv) { return commandline::runProgram(tools::Reg, argc, argv, tools::parseReg, run); }
