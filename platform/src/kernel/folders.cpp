// The temporary folder and the current directory, both given out in Windows
// form.
#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "codepage.h"
#include "file_system.h"
#include "paths.h"

namespace platform::kernel {

namespace {

// Copies `text` with its terminator when it fits into `size` units and
// returns its length; otherwise returns the size needed, terminator included,
// and leaves the buffer alone.
template <typename Char> DWORD copyOut(const std::basic_string<Char> &text, DWORD size, Char *buffer) {
  if (buffer == nullptr || text.size() >= size) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
  return static_cast<DWORD>(text.size());
}

std::basic_string<WCHAR> temporaryFolder() {
  const std::string folder = rootFolder() + "/temp";
  // Made private; an existing one that is not a private folder of ours is
  // not used.
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat status;
  if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != geteuid() ||
      (status.st_mode & 077) != 0)
    return {};
  return wideFromUtf8(toWindowsPath(folder) + "\\");
}

std::basic_string<WCHAR> currentDirectory() {
  char path[PATH_MAX];
  if (getcwd(path, sizeof path) == nullptr) return {};
  return wideFromUtf8(toWindowsPath(path));
}

BOOL setCurrentDirectory(const std::string &name) {
  std::string path;
  if (name.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (DWORD error = posixPathOf(name, false, &path)) {
    SetLastError(error);
    return FALSE;
  }
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  if (chdir(path.c_str()) != 0) {
    SetLastError(errorFromErrno(errno, path));
    return FALSE;
  }
  return TRUE;
}

}  // namespace

}  // namespace platform::kernel

using namespace platform::kernel;

DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const std::basic_string<WCHAR> folder = temporaryFolder();
  if (folder.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return copyOut(folder, nBufferLength, lpBuffer);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  const std::basic_string<WCHAR> folder = temporaryFolder();
  if (folder.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return copyOut(WideToAnsi(folder.data(), folder.size()), nBufferLength, lpBuffer);
}

DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const std::basic_string<WCHAR> folder = currentDirectory();
  if (folder.empty()) {
    SetLastError(errorFromErrno(errno, {}));
    return 0;
  }
  return copyOut(folder, nBufferLength, lpBuffer);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  const std::basic_string<WCHAR> folder = currentDirectory();
  if (folder.empty()) {
    SetLastError(errorFromErrno(errno, {}));
    return 0;
  }
  return copyOut(WideToAnsi(folder.data(), folder.size()), nBufferLength, lpBuffer);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName) {
  return setCurrentDirectory(lpPathName == nullptr ? std::string() : utf8FromWide(lpPathName));
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
  return setCurrentDirectory(lpPathName == nullptr ? std::string() : utf8FromAnsi(lpPathName));
}
