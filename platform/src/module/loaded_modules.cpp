#include "loaded_modules.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace platform::module {

namespace {

std::string mainProgramPath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

std::string absolute(const char *name) {
  if (name[0] == '/') return name;
  char resolved[PATH_MAX];
  return realpath(name, resolved) != nullptr ? std::string(resolved) : std::string(name);
}

struct Walk {
  link_map *main;
  std::vector<LoadedModule> modules;
};

// dl_iterate_phdr holds the lock under which the loader adds and removes
// modules, so the whole chain of link maps is walked inside its first call.
// Nothing in here may call into the loader (that would take its locks in
// the other order than dlclose does).
int collect(dl_phdr_info *, size_t, void *context) {
  Walk *walk = static_cast<Walk *>(context);
  for (link_map *map = walk->main; map != nullptr; map = map->l_next) {
    if (map == walk->main)
      walk->modules.push_back({reinterpret_cast<HMODULE>(map), {}});
    else if (map->l_name != nullptr && map->l_name[0] != 0)
      walk->modules.push_back({reinterpret_cast<HMODULE>(map), map->l_name});
  }
  return 1;
}

}  // namespace

HMODULE mainModule() {
  static link_map *const main = [] {
    link_map *map = nullptr;
    void *self = dlopen(nullptr, RTLD_LAZY);
    if (self != nullptr) dlinfo(self, RTLD_DI_LINKMAP, &map);
    return map;
  }();
  return reinterpret_cast<HMODULE>(main);
}

std::vector<LoadedModule> loadedModules() {
  Walk walk{reinterpret_cast<link_map *>(mainModule()), {}};
  if (walk.main == nullptr) return {};
  dl_iterate_phdr(collect, &walk);
  for (LoadedModule &module : walk.modules)
    module.path = module.handle == mainModule() ? mainProgramPath() : absolute(module.path.c_str());
  return walk.modules;
}

bool pathOfModule(HMODULE module, std::string *path) {
  if (module == nullptr) return false;
  for (const LoadedModule &loaded : loadedModules()) {
    if (loaded.handle == module) {
      *path = loaded.path;
      return true;
    }
  }
  return false;
}

HMODULE moduleOfAddress(const void *address) {
  Dl_info info;
  void *map = nullptr;
  if (dladdr1(address, &info, &map, RTLD_DL_LINKMAP) == 0 || map == nullptr) return nullptr;
  return static_cast<HMODULE>(map);
}

HMODULE moduleOfFile(const std::string &posixPath) {
  struct stat wanted;
  if (stat(posixPath.c_str(), &wanted) != 0) return nullptr;
  for (const LoadedModule &loaded : loadedModules()) {
    struct stat status;
    if (stat(loaded.path.c_str(), &status) == 0 && status.st_dev == wanted.st_dev && status.st_ino == wanted.st_ino)
      return loaded.handle;
  }
  return nullptr;
}

bool addReference(HMODULE module, bool pin) {
  const int flags = RTLD_LAZY | RTLD_NOLOAD | (pin ? RTLD_NODELETE : 0);
  if (module == mainModule()) return dlopen(nullptr, flags) != nullptr;
  const char *name = reinterpret_cast<link_map *>(module)->l_name;
  return dlopen(name, flags) != nullptr;
}

}  // namespace platform::module
