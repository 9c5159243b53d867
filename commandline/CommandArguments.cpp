#include "CommandArguments.h"

#include <windows.h>

#ifdef _WIN32
#include <shellapi.h>
#endif

namespace commandline {

std::vector<std::string> commandArguments(int argc, char **argv) {
  std::vector<std::string> arguments;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int index = 1; wide != nullptr && index < count; ++index) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, argument.data(), size, nullptr, nullptr);
    argument.resize(argument.size() - 1);  // the terminator
    arguments.push_back(std::move(argument));
  }
  LocalFree(wide);
#else
  for (int index = 1; index < argc; ++index) arguments.emplace_back(argv[index]);
#endif
  return arguments;
}

}  // namespace commandline
