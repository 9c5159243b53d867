// Modules are shared objects loaded with dlopen. A module handle is the
// module's glibc link map, which is also the handle dlopen gives out, so one
// value serves dlsym, dlclose and the lookup of the module's resources.
#include <windows.h>

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <unistd.h>

#include "kernel/codepage.h"
#include "kernel/paths.h"
#include "kernel/trusted_paths.h"
#include "loaded_modules.h"
#include "resource_image.h"
#include "platform/resources.h"

namespace {

struct Images {
  std::mutex lock;
  std::map<const void *, std::unique_ptr<std::vector<platform::ResourceEntry>>> byModule;
};

Images &images() {
  static Images *all = new Images;  // outlives every module's static destructor
  return *all;
}

const platform::ResourceEntry *find(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  Images &all = images();
  std::lock_guard<std::mutex> guard(all.lock);
  auto it = all.byModule.find(module);
  if (it == all.byModule.end()) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  const platform::ResourceEntry *entry = platform::findResource(*it->second, type, name, language);
  if (entry == nullptr) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return entry;
}

bool isFile(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// Where a module name leads: a path (Windows form or POSIX, made absolute so
// that the module's file name is a full path); a bare name is looked for
// beside the main program first, as Windows does, then where the dynamic
// loader looks.
std::string moduleFile(const std::string &name) {
  if (name.find_first_of("\\/") == std::string::npos && !(name.size() >= 2 && name[1] == ':')) {
    std::string program;
    if (platform::module::pathOfModule(platform::module::mainModule(), &program)) {
      const std::string beside = program.substr(0, program.rfind('/') + 1) + name;
      if (isFile(beside)) return beside;
    }
    return name;
  }
  std::string path = platform::kernel::toPosixPath(name);
  if (path[0] != '/') {
    char folder[4096];
    if (getcwd(folder, sizeof folder) != nullptr) path = std::string(folder) + "/" + path;
  }
  return path;
}

HMODULE loadLibrary(const std::string &name) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The system libraries are the platform itself, always loaded.
  if (HMODULE system = platform::module::systemModule(name)) {
    platform::module::addReference(system, false);
    return system;
  }
  // A module runs code as this user the moment it loads: one that someone
  // else could have put or changed is not loaded. A bare name the dynamic
  // loader looks for is in the system's own folders.
  const std::string file = moduleFile(name);
  if (file.find('/') != std::string::npos) {
    if (const std::string why = platform::kernel::untrustedReason(file); !why.empty()) {
      platform::kernel::reportRefusal("the module " + file, why);
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  link_map *map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) {
    dlclose(handle);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(map);
}

}  // namespace

extern "C" void PlatformRegisterResources(const void *anchor, const unsigned char *image, size_t size) {
  const void *module = platform::module::moduleOfAddress(anchor);
  if (module == nullptr) return;
  auto entries = std::make_unique<std::vector<platform::ResourceEntry>>(platform::parseResourceImage(image, size));
  Images &all = images();
  std::lock_guard<std::mutex> guard(all.lock);
  all.byModule[module] = std::move(entries);
}

extern "C" void PlatformUnregisterResources(const void *anchor) {
  const void *module = platform::module::moduleOfAddress(anchor);
  Images &all = images();
  std::lock_guard<std::mutex> guard(all.lock);
  all.byModule.erase(module);
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return loadLibrary(platform::kernel::utf8FromAnsi(fileName));
}

HMODULE WINAPI LoadLibraryW(LPCWSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return loadLibrary(platform::kernel::utf8FromWide(fileName));
}

namespace {

// A dlopen handle for a loaded module, holding one reference of its own. A
// module's link map is a valid handle only for modules that were opened
// with dlopen, not for those loaded with the program, so it is asked anew.
void *openHandle(HMODULE module) {
  std::string path;
  if (module == nullptr || !platform::module::pathOfModule(module, &path)) return nullptr;
  if (module == platform::module::mainModule()) return dlopen(nullptr, RTLD_LAZY);
  return dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

}  // namespace

BOOL WINAPI FreeLibrary(HMODULE module) {
  void *handle = openHandle(module);
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dlclose(handle);
  if (dlclose(handle) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  // Shared objects have no export ordinals.
  if (module == nullptr || procName == nullptr || IS_INTRESOURCE(procName)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void *handle = openHandle(module);
  void *symbol = handle != nullptr ? dlsym(handle, procName) : nullptr;
  if (handle != nullptr) dlclose(handle);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

HRSRC WINAPI FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  if (type == nullptr || name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<platform::ResourceEntry *>(find(module, type, name, language)));
}

HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  return FindResourceExW(module, type, name, 0);
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) return nullptr;
  return const_cast<BYTE *>(reinterpret_cast<const platform::ResourceEntry *>(resource)->data);
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return reinterpret_cast<const platform::ResourceEntry *>(resource)->size;
}

// A string table block holds sixteen counted strings; string id n lives in
// block n / 16 + 1 at position n % 16.
int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  if (buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const platform::ResourceEntry *block = find(instance, RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1), 0);
  if (block == nullptr) return 0;
  const BYTE *p = block->data;
  const BYTE *end = block->data + block->size;
  for (UINT i = 0; i < (id & 15); ++i) {
    if (p + 2 > end) return 0;
    WORD length;
    std::memcpy(&length, p, 2);
    p += 2 + 2 * size_t(length);
  }
  if (p + 2 > end) return 0;
  WORD length;
  std::memcpy(&length, p, 2);
  const BYTE *text = p + 2;
  if (text + 2 * size_t(length) > end) return 0;
  if (length == 0) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  if (bufferMax == 0) {
    *reinterpret_cast<LPCWSTR *>(buffer) = reinterpret_cast<LPCWSTR>(text);
    return length;
  }
  int copied = length < bufferMax - 1 ? length : bufferMax - 1;
  if (copied < 0) copied = 0;
  std::memcpy(buffer, text, 2 * size_t(copied));
  buffer[copied] = 0;
  return copied;
}

// The 8-bit string is the UTF-16 one converted to the system code page; a
// zero-sized buffer gets nothing, as Windows does for the 8-bit form.
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const WCHAR *text = nullptr;
  const int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) {
    buffer[0] = 0;
    return 0;
  }
  const std::string converted = platform::kernel::WideToAnsi(text, static_cast<size_t>(length));
  const size_t copied = converted.size() < static_cast<size_t>(bufferMax) ? converted.size() : bufferMax - 1;
  std::memcpy(buffer, converted.data(), copied);
  buffer[copied] = 0;
  return static_cast<int>(copied);
}
