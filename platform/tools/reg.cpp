// reg query <key> [/v name | /ve] [/s]: prints keys and values as Windows'
// reg.exe does (in the layout Wine's reg.exe shows): the key's full name,
// then one line per value, indented four blanks, with its name, its type and
// its data, separated by four blanks. Exit status 0 when something was
// found, 1 otherwise.
#include "ProgramOutput.h"
#include "tool_support.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

using tools::RegKey;
using tools::Wide;

namespace {

constexpr const char *NotFound = "ERROR: The system was unable to find the specified registry key or value.";

int syntaxError() {
  std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"REG QUERY /?\" for usage.\n");
  return 1;
}

struct Root {
  const char *shortName;
  const char *longName;
  HKEY key;
};

const Root Roots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
};

bool equalsIgnoringCase(const std::string &a, const char *b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

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
      return tools::utf8(text.substr(0, text.find(WCHAR(0))));
    }
    case REG_MULTI_SZ: {
      // The strings joined by the two characters \0, as reg.exe shows them.
      Wide text(units, count);
      while (!text.empty() && text.back() == 0) text.pop_back();
      std::string out;
      size_t start = 0;
      for (;;) {
        size_t end = text.find(WCHAR(0), start);
        out += tools::utf8(text.substr(start, end == Wide::npos ? Wide::npos : end - start));
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
    default:
      break;
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
    printValue(tools::utf8(name.substr(0, length)), type, data);
  }
  if (values > 0 || recursing) std::printf("\n");
  for (const Wide &child : subKeys(key)) {
    std::string childPath = path + "\\" + tools::utf8(child);
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
        found += queryValue(sub.get(), path + "\\" + tools::utf8(child), name, shownName, true);
    }
  }
  return found;
}

}  // namespace

namespace {

int run(int argc, char **argv) {
  if (tools::asksForHelp(argc, argv) || (argc == 3 && equalsIgnoringCase(argv[1], "query") &&
                                         std::string(argv[2]) == "/?")) {
    std::string roots;
    for (const Root &root : Roots) roots += std::string(roots.empty() ? "" : ", ") + root.shortName;
    std::printf("Usage: reg query <key> [/v <value> | /ve] [/s]\n"
                "  <key>  a root (%s or its long name), then the path below it\n"
                "  /v     only that value; /ve only the default value; /s every key below, too\n",
                roots.c_str());
    return 0;
  }
  if (argc < 3 || !equalsIgnoringCase(argv[1], "query")) return syntaxError();
  std::string keyName = argv[2];
  std::optional<std::string> valueName;
  bool recurse = false;
  for (int at = 3; at < argc; ++at) {
    std::string argument = argv[at];
    if (equalsIgnoringCase(argument, "/s")) {
      recurse = true;
    } else if (equalsIgnoringCase(argument, "/ve") && !valueName) {
      valueName = std::string();
    } else if (equalsIgnoringCase(argument, "/v") && !valueName && at + 1 < argc) {
      valueName = std::string(argv[++at]);
    } else {
      return syntaxError();
    }
  }

  // The root, by its short or its long name, then the path below it.
  while (keyName.size() > 1 && keyName.back() == '\\') keyName.pop_back();
  size_t split = keyName.find('\\');
  std::string rootName = keyName.substr(0, split);
  std::string below = split == std::string::npos ? std::string() : keyName.substr(split + 1);
  const Root *root = nullptr;
  for (const Root &candidate : Roots) {
    if (equalsIgnoringCase(rootName, candidate.shortName) || equalsIgnoringCase(rootName, candidate.longName))
      root = &candidate;
  }
  if (root == nullptr) {
    std::fprintf(stderr, "ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.\n");
    return 1;
  }
  std::string path = std::string(root->longName) + (below.empty() ? "" : "\\" + below);

  RegKey key;
  if (RegOpenKeyExW(root->key, tools::fromUtf8(below).c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
    std::fprintf(stderr, "%s\n", NotFound);
    return 1;
  }
  std::printf("\n");
  if (!valueName) {
    queryAll(key.get(), path, recurse, false);
    return 0;
  }
  Wide name = tools::fromUtf8(*valueName);
  int found = queryValue(key.get(), path, name, *valueName, recurse);
  if (found == 0 && valueName->empty() && !recurse) {
    // A key always answers for its default value, set or not.
    std::printf("%s\n    (Default)    REG_SZ    (value not set)\n\n", path.c_str());
    return 0;
  }
  if (found == 0) {
    std::fprintf(stderr, "%s\n", NotFound);
    return 1;
  }
  if (recurse) std::printf("Search complete. Number of matches found: %d\n", found);
  return 0;
}

}  // namespace

int main(int argc, char **argv) { return commandline::finishOutput("reg", run(argc, argv)); }
