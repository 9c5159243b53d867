// Module file names and module handles by name or by address.
#include <windows.h>

#include <cstring>
#include <string>

#include "kernel/codepage.h"
#include "kernel/paths.h"
#include "loaded_modules.h"

using namespace platform::module;
using platform::kernel::utf8FromAnsi;
using platform::kernel::utf8FromWide;

namespace {

std::basic_string<WCHAR> fileNameOf(HMODULE module) {
  std::string path;
  if (!pathOfModule(module == nullptr ? mainModule() : module, &path)) return {};
  return platform::kernel::wideFromUtf8(platform::kernel::toWindowsPath(path));
}

// Copies `name` into `buffer` of `size` units, cut to fit its terminator as
// Windows does since Vista.
template <typename Char> DWORD copyName(const std::basic_string<Char> &name, Char *buffer, DWORD size) {
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (name.size() < size) {
    std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(Char));
    return static_cast<DWORD>(name.size());
  }
  std::memcpy(buffer, name.data(), (size - 1) * sizeof(Char));
  buffer[size - 1] = 0;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

// A module by name: a path names one file; a bare name is compared with the
// file names of the loaded modules, without regard to case. A bare name
// without an extension also stands for the shared object "<name>.so", as on
// Windows it stands for "<name>.dll".
HMODULE moduleNamed(const std::string &name) {
  if (HMODULE system = systemModule(name)) return system;
  if (name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':'))
    return moduleOfFile(platform::kernel::toPosixPath(name));
  const bool bare = name.find('.') == std::string::npos;
  for (const LoadedModule &module : loadedModules()) {
    const std::string fileName = module.path.substr(module.path.rfind('/') + 1);
    if (sameName(fileName, name) || (bare && sameName(fileName, name + ".so"))) return module.handle;
  }
  return nullptr;
}

BOOL moduleHandle(DWORD flags, const void *nameOrAddress, bool wide, HMODULE *result) {
  constexpr DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  if (result == nullptr || (flags & ~known) != 0 ||
      ((flags & GET_MODULE_HANDLE_EX_FLAG_PIN) && (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
    if (result != nullptr) *result = nullptr;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HMODULE module;
  if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
    module = moduleOfAddress(nameOrAddress);
  else if (nameOrAddress == nullptr)
    module = mainModule();
  else
    module = moduleNamed(wide ? utf8FromWide(static_cast<LPCWSTR>(nameOrAddress))
                              : utf8FromAnsi(static_cast<LPCSTR>(nameOrAddress)));
  if (module != nullptr && !(flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) &&
      !addReference(module, (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0))
    module = nullptr;
  *result = module;
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

namespace platform::module {

HMODULE systemModule(const std::string &name) {
  static const char *const provided[] = {"kernel32", "kernelbase", "user32",  "advapi32", "ole32",
                                         "oleaut32", "combase",    "version", "shell32"};
  std::string stem = name;
  if (stem.size() > 4 && sameName(stem.substr(stem.size() - 4), ".dll")) stem.resize(stem.size() - 4);
  for (const char *library : provided)
    if (sameName(stem, library)) return moduleOfAddress(reinterpret_cast<const void *>(&systemModule));
  return nullptr;
}

}  // namespace platform::module

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  const std::basic_string<WCHAR> name = fileNameOf(hModule);
  if (name.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return copyName(name, lpFilename, nSize);
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  const std::basic_string<WCHAR> name = fileNameOf(hModule);
  if (name.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return copyName(platform::kernel::WideToAnsi(name.data(), name.size()), lpFilename, nSize);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  HMODULE module = nullptr;
  moduleHandle(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, lpModuleName, true, &module);
  return module;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  HMODULE module = nullptr;
  moduleHandle(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, lpModuleName, false, &module);
  return module;
}

BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE *phModule) {
  return moduleHandle(dwFlags, lpModuleName, true, phModule);
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule) {
  return moduleHandle(dwFlags, lpModuleName, false, phModule);
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
  std::string path;
  if (!pathOfModule(hLibModule, &path)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
