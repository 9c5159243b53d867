// Helpers shared by the kernel service tests: files in the temporary folder,
// the test program's own folder, and waiting for a file another process writes.
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
  for (unsigned char c : text) out.push_back(c);
  return out;
}

// The folder of the test program, without its final backslash.
inline std::string programFolder() {
  char path[MAX_PATH];
  std::string folder(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return folder.substr(0, folder.rfind('\\'));
}

inline std::string tempFolder() {
  char path[MAX_PATH];
  return std::string(path, GetTempPathA(MAX_PATH, path));
}

// A file name in the temporary folder that no other test run uses.
inline std::string tempFile(const char *name) {
  return tempFolder() + "svc" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

// Owns a file handle.
class File {
 public:
  explicit File(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  File(const File &) = delete;
  File &operator=(const File &) = delete;
  ~File() { reset(); }
  void reset() {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

inline HANDLE openFile(const std::string &path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline bool write(HANDLE file, const std::string &text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

inline std::string readAll(HANDLE file) {
  std::string text;
  char buffer[512];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  return text;
}

// The content of `path` once no one writes it any more (opening it while
// denying writers fails as long as one has it open); an empty text when
// that does not happen within half a minute.
inline std::string waitForFile(const std::string &path) {
  for (int attempt = 0; attempt < 1500; ++attempt, Sleep(20)) {
    File file(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (file.valid()) return readAll(file.get());
  }
  return {};
}

}  // namespace services_test
