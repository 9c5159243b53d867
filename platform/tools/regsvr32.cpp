// regsvr32 [/u] [/s] <module>: loads a module and calls its
// DllRegisterServer, or DllUnregisterServer with /u. /s keeps it silent.
// The exit status is Windows' own: 0 done, 1 bad arguments, 3 the module
// did not load, 4 the entry point is missing, 5 the entry point failed.
#include "kernel/paths.h"
#include "SystemMessage.h"
#include "ToolOptions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// Windows' own exit statuses; a wrong command line gives 1.
enum ExitStatus { Done = 0, LoadFailed = 3, EntryMissing = 4, EntryFailed = 5 };

// The path dlopen needs: Windows paths are mapped, and a relative path is
// taken from the current directory, as LoadLibrary finds it there.
std::string modulePath(const std::string &given) {
  std::string path = platform::kernel::toPosixPath(given);
  if (!path.empty() && path[0] != '/') {
    struct stat info;
    char folder[4096];
    if (stat(path.c_str(), &info) == 0 && getcwd(folder, sizeof folder) != nullptr)
      path = std::string(folder) + "/" + path;
  }
  return path;
}

int run(const tools::Regsvr32Options &options) {
  const bool silent = options.silent;
  const std::string &module = options.module;
  const char *entry = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  // The module's entry points may use the object model, as under Windows'
  // regsvr32, which initialises it first.
  OleInitialize(nullptr);
  HMODULE loaded = LoadLibraryA(modulePath(module).c_str());
  if (loaded == nullptr) {
    DWORD error = GetLastError();
    if (!silent)
      std::fprintf(stderr, "LoadLibrary(\"%s\") failed - %s\n", module.c_str(), commandline::systemText(error).c_str());
    return LoadFailed;
  }
  // Through the generic function type, as the entry's real type is not FARPROC's.
  using Entry = HRESULT(STDAPICALLTYPE *)(void);
  auto function = reinterpret_cast<Entry>(reinterpret_cast<void (*)(void)>(GetProcAddress(loaded, entry)));
  if (function == nullptr) {
    if (!silent)
      std::fprintf(stderr,
                   "%s was loaded, but the %s entry point was not found.\n\n"
                   "%s does not appear to be a .DLL or .OCX file.\n",
                   module.c_str(), entry, module.c_str());
    FreeLibrary(loaded);
    return EntryMissing;
  }
  HRESULT result = function();
  FreeLibrary(loaded);
  if (FAILED(result)) {
    if (!silent)
      std::fprintf(stderr, "%s in %s failed.\nReturn code was: 0x%08X\n", entry, module.c_str(),
                   static_cast<unsigned>(result));
    return EntryFailed;
  }
  if (!silent) std::printf("%s in %s succeeded.\n", entry, module.c_str());
  return Done;
}

}  // namespace

int main(int argc, char **argv) {
  return commandline::runProgram(tools::Regsvr32, argc, argv, tools::parseRegsvr32, run);
}
