// perfquery's command line: what it asks for, and its usage.
#pragma once

#include <windows.h>

#include <string>

#include "CommandLine.h"

namespace perfquery {

struct Request {
  enum class Action { ListObjects, ListCounters, ShowValues } action = Action::ListObjects;
  // An object's name or its index (#1234 or 1234), as given.
  std::basic_string<WCHAR> object;
  DWORD intervalMilliseconds = 1000;
  // Samples to show; with -i and no -n, as many as there are until stopped.
  ULONGLONG count = 1;
};

commandline::Parsed<Request> parseRequest(const commandline::Arguments &arguments);

extern const commandline::Program Program;

}  // namespace perfquery
