// The modules loaded in the process, as the module functions see them: a
// module's handle is its glibc link map, its file the path it was loaded
// from (the main program's from /proc/self/exe).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform::module {

struct LoadedModule {
  HMODULE handle;
  std::string path;  // POSIX path, absolute where the loader knows it
};

// Every loaded module, main program first, read under the loader's lock so
// that no module leaves while the list is made.
std::vector<LoadedModule> loadedModules();

HMODULE mainModule();

// The path of `module` if it is a loaded module's handle.
bool pathOfModule(HMODULE module, std::string *path);

// The module whose image holds `address`, or NULL.
HMODULE moduleOfAddress(const void *address);

// The loaded module of the file `posixPath` (compared by device and inode),
// or NULL.
HMODULE moduleOfFile(const std::string &posixPath);

// The platform library itself when `name` names one of the Windows system
// libraries whose functions it provides ("oleaut32.dll", "kernel32", ...,
// without regard to case), else NULL.
HMODULE systemModule(const std::string &name);

// Takes one more reference to a loaded module (dlopen without loading), so
// that FreeLibrary may release it; `pin` keeps it loaded for good.
bool addReference(HMODULE module, bool pin);

}  // namespace platform::module
