// What the kernel service tests share: the test program's folder, files in
// the temporary folder, a handle owner, and waiting for a file that another
// process writes.
#pragma once

#include <windows.h>

#include <string>

#include "../PlatformTestSupport.h"

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

// A file or section handle, closed on every path; both null and
// INVALID_HANDLE_VALUE are no handle.
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() { reset(); }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

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
    Handle file(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (file.valid()) return readAll(file.get());
  }
  return {};
}
