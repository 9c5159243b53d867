// How every program of the project meets its command line: the help flags,
// the parser's answer, usage errors and exit codes. A program states its
// name, usage and how it shows a usage error once, declares its parser as a
// function a test can call without starting a process, and main() only hands
// both to runProgram.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CommandArguments.h"
#include "ProgramOutput.h"

namespace commandline {

// The project's own programs: 0 done, 1 failed (the message says why), 2 wrong
// usage. The system tools' stand-ins keep the codes of the tools they stand for.
enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

// The exit status for a Win32 error code, as the system tools give it: the
// code itself when it fits in an exit status that POSIX keeps, else 1.
int exitStatusOf(LONG win32Code);

using Arguments = std::vector<std::string>;

// --help, -h, /? and -?: the same on every program and on both targets.
bool isHelpFlag(std::string_view argument);
// Whether any of the arguments is a help flag; a help flag anywhere on the
// line asks for the usage, whatever else the line holds.
bool asksForHelp(const Arguments &arguments);

// What a parser makes of a command line: the options to run with, a request
// for the usage text, or a usage error with what it says.
template <typename Options> struct Parsed {
  enum class Outcome { Run, Help, UsageError };
  Outcome outcome = Outcome::Run;
  Options options{};
  std::string error;

  static Parsed run(Options options) { return Parsed{Outcome::Run, std::move(options), {}}; }
  static Parsed help() { return Parsed{Outcome::Help, {}, {}}; }
  static Parsed wrong(std::string error) { return Parsed{Outcome::UsageError, {}, std::move(error)}; }
};

// How a usage error reaches the user: Named says "<program>: <error>" and
// "Try '<program> --help'.", as the project's programs do; Verbatim writes the
// error as the parser gave it, lines and all (nothing for an empty one), as
// the system tools that the POSIX stand-ins copy do.
enum class UsageStyle { Named, Verbatim };

struct Program {
  const char *name;
  // The text a help flag prints on standard output.
  std::string (*usage)();
  UsageStyle style = UsageStyle::Named;
  // The exit status of a usage error.
  int usageStatus = UsageError;
};

// Writes a usage error on standard error as `program` shows it and gives the
// exit status it ends with.
int reportUsageError(const Program &program, const std::string &error);

// A program's main: reads the arguments, hands them to `parse`, prints the
// usage for a help flag or the usage error for a wrong line, or else runs
// `run` on the options; the exit code comes through finishOutput, so that
// output lost on the way fails the program too.
template <typename Options, typename Run>
int runProgram(const Program &program, int argc, char **argv, Parsed<Options> (*parse)(const Arguments &), Run run) {
  const Parsed<Options> parsed = parse(commandArguments(argc, argv));
  int code = Success;
  switch (parsed.outcome) {
    case Parsed<Options>::Outcome::Help: std::fputs(program.usage().c_str(), stdout); break;
    case Parsed<Options>::Outcome::UsageError: code = reportUsageError(program, parsed.error); break;
    case Parsed<Options>::Outcome::Run: code = run(parsed.options); break;
  }
  return finishOutput(program.name, code);
}

}  // namespace commandline
