// The command lines of the system tools' stand-ins, each a parser a test can
// call, with the usage and the usage errors of the tool it stands for.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <optional>
#include <string>

#include "CommandLine.h"

namespace tools {

// regsvr32 [/u] [/s] <module>
struct Regsvr32Options {
  bool unregister = false;
  bool silent = false;
  std::string module;
};
commandline::Parsed<Regsvr32Options> parseRegsvr32(const commandline::Arguments &arguments);

// reg query <key> [/v <value> | /ve] [/s]
struct RegQuery {
  HKEY root = nullptr;
  std::string below;                 // the path under the root, empty for the root itself
  std::string shown;                 // the key's full name, HKEY_LOCAL_MACHINE\...
  std::optional<std::string> value;  // empty for /ve
  bool recurse = false;
};
commandline::Parsed<RegQuery> parseReg(const commandline::Arguments &arguments);

// lodctr <ini file> and unlodctr <driver name>: the one argument.
commandline::Parsed<std::string> parseLodctr(const commandline::Arguments &arguments);
commandline::Parsed<std::string> parseUnlodctr(const commandline::Arguments &arguments);

extern const commandline::Program Regsvr32, Reg, Lodctr, Unlodctr;

}  // namespace tools
