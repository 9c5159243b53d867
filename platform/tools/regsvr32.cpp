// regsvr32 [/u] [/s] <module>: loads a module and calls its
// DllRegisterServer, or DllUnregisterServer with /u. /s keeps it silent.
// The exit status is Windows' own: 0 done, 1 bad arguments, 3 the module
// did not load, 4 the entry point is missing, 5 the entry point failed.
#include "kernel/paths.h"
#include "ProgramOutput.h"
#include "tool_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

enum ExitStatus { Done = 0, BadArguments = 1, LoadFailed = 3, EntryMissing = 4, EntryFailed = 5 };

// Switches are two characters; anything longer is the module, so that POSIX
// paths, which begin with a slash too, are taken as paths.
bool looksLikeSwitch(const std::string &argument) {
  return argument.size() == 2 && (argument[0] == '/' || argument[0] == '-');
}

bool isSwitch(const std::string &argument, char letter) {
  return argument.size() == 2 && (argument[0] == '/' || argument[0] == '-') &&
         (argument[1] == letter || argument[1] == letter - 'a' + 'A');
}

void usage(FILE *to = stderr) {
  std::fprintf(to,
               "Usage: regsvr32 [/u] [/s] <module>\n"
               "  /u  unregister the module (calls DllUnregisterServer)\n"
               "  /s  silent: no messages\n");
}

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

}  // namespace

namespace {

int run(int argc, char **argv) {
  if (tools::asksForHelp(argc, argv)) {
    usage(stdout);
    return 0;
  }
  bool unregister = false, silent = false;
  std::string module;
  for (int at = 1; at < argc; ++at) {
    std::string argument = argv[at];
    if (isSwitch(argument, 'u')) {
      unregister = true;
    } else if (isSwitch(argument, 's')) {
      silent = true;
    } else if (module.empty() && !argument.empty() && !looksLikeSwitch(argument)) {
      module = argument;
    } else {
      if (!silent) usage();
      return BadArguments;
    }
  }
  if (module.empty()) {
    if (!silent) usage();
    return BadArguments;
  }

  const char *entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  // The module's entry points may use the object model, as under Windows'
  // regsvr32, which initialises it first.
  OleInitialize(nullptr);
  HMODULE loaded = LoadLibraryA(modulePath(module).c_str());
  if (loaded == nullptr) {
    DWORD error = GetLastError();
    if (!silent)
      std::fprintf(stderr, "LoadLibrary(\"%s\") failed - %s\n", module.c_str(), tools::systemMessage(error).c_str());
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

int main(int argc, char **argv) { return commandline::finishOutput("regsvr32", run(argc, argv)); }
