// Helpers shared by the kernel service tests: files in the temporary folder,
// the test program's own folder, and waiting for a file that another
// process writes.
#pragma once

#include <windows.h>

#include <string>

#include "../kernel/wide_text.h"

namespace services_test {

// The 8-bit text of `wide` (ASCII only; anything else becomes '?').
inline std::string narrow(const WideString &wide) {
  std::string out;
  for (WCHAR c : wide) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

inline WideString widen(const std::string &text) {
  WideString out;
  for (char c : text) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
  return out;
}

// The folder of the test program, without its final backslash.
inline std::string programFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.rfind('\\'));
}

inline std::string tempFolder() {
  char path[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, path);
  return std::string(path, length);
}

// A file name in the temporary folder that no other test run uses.
inline std::string tempFile(const char *name) {
  return tempFolder() + "svc" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

// Owns a file handle.
class File {
 public:
  File() = default;
  explicit File(HANDLE handle) : handle_(handle) {}
  File(const File &) = delete;
  File &operator=(const File &) = delete;
  ~File() { reset(); }
  void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

inline HANDLE openFile(const std::string &path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline bool write(HANDLE file, const std::string &text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

inline std::string readAll(HANDLE file) {
  std::string text;
  char buffer[512];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  return text;
}

// The content of `path`, or the last error when it cannot be opened for
// reading while denying other writers (so a file still being written by
// another process is not read half-way).
inline bool readFinishedFile(const std::string &path, std::string *content, DWORD *error) {
  File file(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  if (!file.valid()) {
    *error = GetLastError();
    return false;
  }
  *content = readAll(file.get());
  return true;
}

// Waits (up to half a minute) until another process has written and closed
// `path`, then returns its content; an empty text when it never came.
inline std::string waitForFile(const std::string &path) {
  for (int attempt = 0; attempt < 1500; ++attempt) {
    std::string content;
    DWORD error = 0;
    if (readFinishedFile(path, &content, &error)) return content;
    Sleep(20);
  }
  return {};
}

}  // namespace services_test
