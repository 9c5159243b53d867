#include "CommandArguments.h"

#include <windows.h>

#ifdef _WIN32
#include <shellapi.h>

#include "Utf8Text.h"
#endif

namespace commandline {

std::vector<std::string> commandArguments(int argc, char **argv) {
  std::vector<std::string> arguments;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int index = 1; wide != nullptr && index < count; ++index) arguments.push_back(toUtf8(wide[index]));
  LocalFree(wide);
#else
  for (int index = 1; index < argc; ++index) arguments.emplace_back(argv[index]);
#endif
  return arguments;
}

}  // namespace commandline
