// perf_exporter's command line: its flags, declared once with their help, and
// what they ask for.
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"
#include "ListenAddress.h"
#include "MetricFamilies.h"

namespace exporter {

using commandline::Failure;
using commandline::Success;

enum class Action { Serve, Once, InstallService, UninstallService, RunService };

struct Options {
  Action action = Action::Serve;
  ListenAddress address;
  FamilyOptions families;
  // The arguments that set how it serves, as given: what a service installed
  // with them runs with.
  std::vector<std::string> servingArguments;
  // The account a service installed with them runs as (UTF-8).
  std::string serviceAccount;
  // The web configuration's file (UTF-8), or empty.
  std::string webConfigFile;
};

// The least a service needs to read performance data and serve it: the
// system's local service account, which the installer makes a member of
// Performance Monitor Users.
inline constexpr const char *DefaultServiceAccount = "NT AUTHORITY\\LocalService";

// Reads the arguments (without the program's name).
commandline::Parsed<Options> parseOptions(const commandline::Arguments &arguments);

std::string usageText();

extern const commandline::Program Program;

}  // namespace exporter
