// perf_exporter's command line: its flags, declared once with their help, and
// what they ask for.
#pragma once

#include <string>
#include <vector>

#include "ListenAddress.h"
#include "MetricFamilies.h"

namespace exporter {

// As every program of the project: 0 done, 1 failed (the message says why), 2 wrong usage.
enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

enum class Action { Serve, Once, Help, InstallService, UninstallService, RunService };

struct Options {
  Action action = Action::Serve;
  ListenAddress address;
  FamilyOptions families;
  // The arguments that set how it serves, as given: what a service installed
  // with them runs with.
  std::vector<std::string> servingArguments;
};

// Reads the arguments (without the program's name). False, after writing
// the usage error to standard error, for a command line that is wrong.
bool parseOptions(const std::vector<std::string> &arguments, Options &options);

std::string usageText();

}  // namespace exporter
