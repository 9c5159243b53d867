#include "CommandLine.h"

#include <algorithm>

namespace commandline {

int exitStatusOf(LONG win32Code) { return win32Code > 0 && win32Code < 256 ? static_cast<int>(win32Code) : 1; }

bool isHelpFlag(std::string_view argument) {
  return argument == "--help" || argument == "-h" || argument == "/?" || argument == "-?";
}

bool asksForHelp(const Arguments &arguments) {
  return std::any_of(arguments.begin(), arguments.end(),
                     [](const std::string &argument) { return isHelpFlag(argument); });
}

int reportUsageError(const Program &program, const std::string &error) {
  if (program.style == UsageStyle::Named) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.name, error.c_str(), program.name);
  } else {
    std::fputs(error.c_str(), stderr);
  }
  return program.usageStatus;
}

}  // namespace commandline
