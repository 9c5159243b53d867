#include "CompanionModule.h"

#include <vector>

namespace rv::companion {

namespace {

// Appends and renames of the files of this process, one at a time, so that a
// rotation never cuts between the size check and the write of another
// thread's line.
CriticalSection &fileLock() {
  static CriticalSection files;
  return files;
}

const OLECHAR SettingsRoot[] = OLESTR("SOFTWARE\\rvZedaZuvivurAzodav");

// A registry value read raw: its type and bytes, or nothing.
std::optional<std::pair<DWORD, std::vector<BYTE>>> readValue(const Text &keyPath, const OLECHAR *name) {
  struct OpenKey {
    HKEY key = nullptr;
    ~OpenKey() {
      if (key != nullptr) RegCloseKey(key);
    }
  } opened;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &opened.key);
  if (error != ERROR_SUCCESS) return nothingUnlessOutOfMemory(error);
  DWORD type = 0, size = 0;
  std::vector<BYTE> data;
  error = RegQueryValueExW(opened.key, name, nullptr, &type, nullptr, &size);
  // The value may grow between the two calls; one more try covers that.
  for (int attempt = 0; attempt < 2 && error == ERROR_SUCCESS; ++attempt) {
    data.resize(size);
    error = RegQueryValueExW(opened.key, name, nullptr, &type, data.data(), &size);
    if (error != ERROR_MORE_DATA) break;
    error = ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) return nothingUnlessOutOfMemory(error);
  data.resize(size);
  return std::make_pair(type, std::move(data));
}

HRESULT writeValue(const Text &keyPath, const OLECHAR *name, DWORD type, const void *data, DWORD size) {
  HKEY key = nullptr;
  LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                               nullptr, &key, nullptr);
  if (error == ERROR_SUCCESS) {
    error = RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
  }
  return error == ERROR_SUCCESS ? S_OK : inproc::resultOfError(static_cast<DWORD>(error));
}

HRESULT lastError() { return inproc::resultOfError(GetLastError()); }

std::string utf8(const Text &text) {
  if (text.empty()) return std::string();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

// The size of a file, 0 when it does not exist or cannot be read.
ULONGLONG sizeOf(const Text &path) {
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size = {};
  const BOOL known = GetFileSizeEx(file, &size);
  CloseHandle(file);
  return known ? static_cast<ULONGLONG>(size.QuadPart) : 0;
}

}  // namespace

std::nullopt_t nothingUnlessOutOfMemory(LONG error) {
  if (inproc::resultOfError(static_cast<DWORD>(error)) == E_OUTOFMEMORY) throw inproc::Failure{E_OUTOFMEMORY};
  return std::nullopt;
}

Text settingsKey(const OLECHAR *subkey) {
  Text key = SettingsRoot;
  if (subkey != nullptr && subkey[0] != 0) key += OLESTR("\\") + Text(subkey);
  return key;
}

std::optional<DWORD> readNumber(const Text &key, const OLECHAR *name) {
  const auto value = readValue(key, name);
  if (!value || value->first != REG_DWORD || value->second.size() != sizeof(DWORD)) return std::nullopt;
  DWORD number = 0;
  for (size_t i = 0; i < sizeof(DWORD); ++i) number |= static_cast<DWORD>(value->second[i]) << (8 * i);
  return number;
}

std::optional<Text> readText(const Text &key, const OLECHAR *name) {
  const auto value = readValue(key, name);
  if (!value || (value->first != REG_SZ && value->first != REG_EXPAND_SZ)) return std::nullopt;
  Text text(value->second.size() / sizeof(OLECHAR), 0);
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<OLECHAR>(value->second[2 * i] | (value->second[2 * i + 1] << 8));
  // Stored texts usually end with their terminator, and may hold more.
  const size_t end = text.find(OLECHAR(0));
  if (end != Text::npos) text.resize(end);
  if (text.empty()) return std::nullopt;
  return text;
}

HRESULT writeNumber(const Text &key, const OLECHAR *name, DWORD value) {
  return writeValue(key, name, REG_DWORD, &value, sizeof value);
}

HRESULT writeText(const Text &key, const OLECHAR *name, const Text &value) {
  return writeValue(key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(OLECHAR)));
}

Text inTemporaryFolder(const OLECHAR *name) {
  OLECHAR folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  Text path = length > 0 && length <= MAX_PATH ? Text(folder, length) : Text();
  if (!path.empty() && path.back() != '\\') path += OLECHAR('\\');
  return path + name;
}

HRESULT appendLine(const Text &path, const Text &line, DWORD limit) {
  const std::string bytes = utf8(line + OLESTR("\r\n"));
  Lock guard(fileLock());
  if (limit != 0 && sizeOf(path) != 0 && sizeOf(path) + bytes.size() > limit) {
    // A rename that fails (another process holds the file open) leaves the
    // file to grow a little past its limit rather than losing the line.
    MoveFileExW(path.c_str(), (path + OLESTR(".1")).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lastError();
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const HRESULT hr = !wrote ? lastError() : written != bytes.size() ? HRESULT_FROM_WIN32(ERROR_DISK_FULL) : S_OK;
  CloseHandle(file);
  return hr;
}

Text timestamp() {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  OLECHAR text[32];
  wsprintfW(text, OLESTR("%04u-%02u-%02u %02u:%02u:%02u.%03u"), now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
            now.wSecond, now.wMilliseconds);
  return text;
}

Text decimal(LONG value) {
  OLECHAR text[16];
  wsprintfW(text, OLESTR("%ld"), value);
  return text;
}

Text oneLine(const OLECHAR *text) {
  Text out = text != nullptr ? Text(text) : Text();
  for (OLECHAR &c : out)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return out;
}

}  // namespace rv::companion
