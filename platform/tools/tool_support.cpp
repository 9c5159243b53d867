#include "tool_support.h"

#include "ProgramOutput.h"

#include <cstdio>
#include <cstring>

namespace tools {

std::string utf8(const Wide &text) {
  if (text.empty()) return std::string();
  int length = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  return out;
}

namespace {

Wide convert(UINT codePage, std::string_view text) {
  if (text.empty()) return Wide();
  int length = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  Wide out(static_cast<size_t>(needed), 0);
  MultiByteToWideChar(codePage, 0, text.data(), length, out.data(), needed);
  return out;
}

}  // namespace

Wide fromUtf8(std::string_view text) { return convert(CP_UTF8, text); }

Wide fromAnsi(std::string_view text) { return convert(CP_ACP, text); }

Wide wide(const char *ascii) { return convert(CP_UTF8, ascii); }

std::string systemMessage(DWORD code) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) message = "Error " + std::to_string(code) + ".";
  return message;
}

int exitStatus(LONG code) { return code > 0 && code < 256 ? static_cast<int>(code) : 1; }

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
    data += wide(std::to_string(entry.index).c_str());
    data.push_back(0);
    data += entry.text;
    data.push_back(0);
  }
  data.push_back(0);
  return RegSetValueExW(language, valueName.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()),
                        static_cast<DWORD>(data.size() * sizeof(WCHAR)));
}

void check(LONG status, const std::string &what) {
  if (status != ERROR_SUCCESS) throw Failure{status, what + ": " + systemMessage(status)};
}

void openServiceKey(const std::string &driver, RegKey &service) {
  LONG status = openKey(HKEY_LOCAL_MACHINE, wide(ServicesPath) + fromAnsi(driver), KEY_ALL_ACCESS, service);
  if (status == ERROR_FILE_NOT_FOUND)
    throw Failure{status, "The service key of " + driver + " (HKEY_LOCAL_MACHINE\\" + ServicesPath + driver +
                              ") does not exist."};
  check(status, "Unable to open the service key of " + driver);
}

bool asksForHelp(int argc, char **argv) {
  if (argc != 2) return false;
  const std::string argument = argv[1];
  return argument == "--help" || argument == "/?" || argument == "-?";
}

namespace {

int runWork(int argc, char **argv, const char *usage, std::string (*work)(const std::string &argument)) {
  if (asksForHelp(argc, argv)) {
    std::printf("Usage: %s\n", usage);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "Usage: %s\n", usage);
    return exitStatus(ERROR_INVALID_PARAMETER);
  }
  try {
    std::printf("Info: %s\n", work(argv[1]).c_str());
    return 0;
  } catch (const Failure &failure) {
    std::fprintf(stderr, "Error: %s\n", failure.message.c_str());
    return exitStatus(failure.code);
  }
}

}  // namespace

int runTool(int argc, char **argv, const char *usage, std::string (*work)(const std::string &argument)) {
  // The usage line starts with the tool's name.
  const std::string tool(usage, std::strcspn(usage, " "));
  return commandline::finishOutput(tool.c_str(), runWork(argc, argv, usage, work));
}

}  // namespace tools
