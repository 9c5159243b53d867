#include "ToolOptions.h"

#include <strings.h>

#include <cstring>

namespace tools {
namespace {

using commandline::Arguments;
using commandline::Parsed;

bool equalsIgnoringCase(const std::string &a, const char *b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

// Switches are two characters, / or - and a letter in either case; anything
// longer is the module, so that POSIX paths, which begin with a slash too,
// are taken as paths.
bool looksLikeSwitch(const std::string &argument) {
  return argument.size() == 2 && (argument[0] == '/' || argument[0] == '-');
}

bool isSwitch(const std::string &argument, char letter) {
  return looksLikeSwitch(argument) && (argument[1] == letter || argument[1] == letter - 'a' + 'A');
}

std::string regsvr32Usage() {
  return "Usage: regsvr32 [/u] [/s] <module>\n"
         "  /u  unregister the module (calls DllUnregisterServer)\n"
         "  /s  silent: no messages\n";
}

struct Root {
  const char *shortName;
  const char *longName;
  HKEY key;
};

const Root Roots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
};

std::string regUsage() {
  std::string roots;
  for (const Root &root : Roots) roots += std::string(roots.empty() ? "" : ", ") + root.shortName;
  return "Usage: reg query <key> [/v <value> | /ve] [/s]\n"
         "  <key>  a root (" +
         roots +
         " or its long name), then the path below it\n"
         "  /v     only that value; /ve only the default value; /s every key below, too\n";
}

const char RegSyntaxError[] = "ERROR: Invalid syntax.\nType \"REG QUERY /?\" for usage.\n";
const char RegKeyNameError[] = "ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.\n";

std::string lodctrUsage() { return "Usage: lodctr <ini file>\n"; }
std::string unlodctrUsage() { return "Usage: unlodctr <driver name>\n"; }

// Exactly one argument, not empty; otherwise the usage line, as Windows'
// lodctr and unlodctr answer.
Parsed<std::string> oneArgument(const Arguments &arguments, std::string (*usage)()) {
  if (commandline::asksForHelp(arguments)) return Parsed<std::string>::help();
  if (arguments.size() != 1 || arguments[0].empty()) return Parsed<std::string>::wrong(usage());
  return Parsed<std::string>::run(arguments[0]);
}

}  // namespace

const commandline::Program Regsvr32{"regsvr32", regsvr32Usage, commandline::UsageStyle::Verbatim, 1};
const commandline::Program Reg{"reg", regUsage, commandline::UsageStyle::Verbatim, 1};
const commandline::Program Lodctr{"lodctr", lodctrUsage, commandline::UsageStyle::Verbatim,
                                  commandline::exitStatusOf(ERROR_INVALID_PARAMETER)};
const commandline::Program Unlodctr{"unlodctr", unlodctrUsage, commandline::UsageStyle::Verbatim,
                                    commandline::exitStatusOf(ERROR_INVALID_PARAMETER)};

Parsed<Regsvr32Options> parseRegsvr32(const Arguments &arguments) {
  if (commandline::asksForHelp(arguments)) return Parsed<Regsvr32Options>::help();
  Regsvr32Options options;
  bool wrong = false;
  for (const std::string &argument : arguments) {
    if (isSwitch(argument, 'u')) {
      options.unregister = true;
    } else if (isSwitch(argument, 's')) {
      options.silent = true;
    } else if (options.module.empty() && !argument.empty() && !looksLikeSwitch(argument)) {
      options.module = argument;
    } else {
      wrong = true;
    }
  }
  // /s keeps even a wrong line silent, wherever it stands.
  if (wrong || options.module.empty()) return Parsed<Regsvr32Options>::wrong(options.silent ? "" : regsvr32Usage());
  return Parsed<Regsvr32Options>::run(std::move(options));
}

Parsed<RegQuery> parseReg(const Arguments &arguments) {
  if (commandline::asksForHelp(arguments)) return Parsed<RegQuery>::help();
  if (arguments.size() < 2 || !equalsIgnoringCase(arguments[0], "query"))
    return Parsed<RegQuery>::wrong(RegSyntaxError);
  RegQuery query;
  for (size_t at = 2; at < arguments.size(); ++at) {
    const std::string &argument = arguments[at];
    if (equalsIgnoringCase(argument, "/s")) {
      query.recurse = true;
    } else if (equalsIgnoringCase(argument, "/ve") && !query.value) {
      query.value = std::string();
    } else if (equalsIgnoringCase(argument, "/v") && !query.value && at + 1 < arguments.size()) {
      query.value = arguments[++at];
    } else {
      return Parsed<RegQuery>::wrong(RegSyntaxError);
    }
  }

  // The root, by its short or its long name, then the path below it.
  std::string keyName = arguments[1];
  while (keyName.size() > 1 && keyName.back() == '\\') keyName.pop_back();
  const size_t split = keyName.find('\\');
  const std::string rootName = keyName.substr(0, split);
  for (const Root &root : Roots) {
    if (equalsIgnoringCase(rootName, root.shortName) || equalsIgnoringCase(rootName, root.longName)) {
      query.root = root.key;
      query.below = split == std::string::npos ? std::string() : keyName.substr(split + 1);
      query.shown = std::string(root.longName) + (query.below.empty() ? "" : "\\" + query.below);
      return Parsed<RegQuery>::run(std::move(query));
    }
  }
  return Parsed<RegQuery>::wrong(RegKeyNameError);
}

Parsed<std::string> parseLodctr(const Arguments &arguments) { return oneArgument(arguments, lodctrUsage); }

Parsed<std::string> parseUnlodctr(const Arguments &arguments) { return oneArgument(arguments, unlodctrUsage); }

}  // namespace tools
