#include "QueryOptions.h"

#include <cstdlib>

#include "Utf8Text.h"

namespace perfquery {
namespace {

std::string usage() {
  return "Usage:\n"
         "  perfquery                                 list the performance objects\n"
         "  perfquery -l OBJECT                       list an object's counters and instances\n"
         "  perfquery OBJECT [-i SECONDS] [-n COUNT]  show an object's counter values\n"
         "  perfquery --help                          show this text (also -h, /?)\n"
         "\n"
         "OBJECT is an object's name or its index, written #1234 or 1234. Values are\n"
         "shown one line per instance (one line for an object without instances),\n"
         "COUNT times, SECONDS apart: -n alone samples every second, -i alone until\n"
         "stopped, neither once. A rate needs two samples: the first one shows the\n"
         "raw count, marked \"(raw)\"; a count that went down (a _Total whose\n"
         "instance closed) shows - until the next sample. Names not installed show\n"
         "as their index (#1234).\n"
         "\n"
         "Exit status: 0 done, 1 an unknown object or performance data that could not\n"
         "be read (standard error says which), 2 wrong usage.\n";
}

bool parseSeconds(const std::string &text, DWORD &milliseconds) {
  char *end = nullptr;
  double seconds = strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds >= 0.001 && seconds <= 86400.0)) return false;
  milliseconds = static_cast<DWORD>(seconds * 1000.0 + 0.5);
  return true;
}

bool parseCount(const std::string &text, ULONGLONG &count) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  count = strtoull(text.c_str(), nullptr, 10);
  return count > 0;
}

}  // namespace

const commandline::Program Program{"perfquery", usage};

commandline::Parsed<Request> parseRequest(const commandline::Arguments &arguments) {
  using Parsed = commandline::Parsed<Request>;
  if (commandline::asksForHelp(arguments)) return Parsed::help();
  Request request;
  bool listing = false, intervalGiven = false, countGiven = false;
  for (size_t at = 0; at < arguments.size(); ++at) {
    const std::string &argument = arguments[at];
    bool takesValue = argument == "-l" || argument == "-i" || argument == "-n";
    if (takesValue && at + 1 == arguments.size()) return Parsed::wrong("option " + argument + " needs a value");
    if (argument == "-l") {
      if (listing || !request.object.empty()) return Parsed::wrong("only one object can be named");
      listing = true;
      request.object = commandline::fromUtf8(arguments[++at]);
    } else if (argument == "-i") {
      if (intervalGiven) return Parsed::wrong("-i is given twice");
      if (!parseSeconds(arguments[++at], request.intervalMilliseconds))
        return Parsed::wrong("-i needs a number of seconds from 0.001 to 86400, not '" + arguments[at] + "'");
      intervalGiven = true;
    } else if (argument == "-n") {
      if (countGiven) return Parsed::wrong("-n is given twice");
      if (!parseCount(arguments[++at], request.count))
        return Parsed::wrong("-n needs a count from 1 to 999999999, not '" + arguments[at] + "'");
      countGiven = true;
    } else if (!argument.empty() && argument[0] == '-') {
      return Parsed::wrong("unknown option '" + argument + "'");
    } else {
      if (!request.object.empty()) return Parsed::wrong("only one object can be named");
      request.object = commandline::fromUtf8(argument);
    }
  }
  if (listing && (intervalGiven || countGiven)) return Parsed::wrong("-l takes neither -i nor -n");
  if (request.object.empty() && (intervalGiven || countGiven)) return Parsed::wrong("-i and -n need an object");
  if (listing) {
    request.action = Request::Action::ListCounters;
  } else if (!request.object.empty()) {
    request.action = Request::Action::ShowValues;
    if (intervalGiven && !countGiven) request.count = ~0ull;
  }
  return Parsed::run(std::move(request));
}

}  // namespace perfquery
