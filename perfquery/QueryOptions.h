// perfquery's command line: what it asks for, and its usage.
#pragma once

#include <windows.h>

#include <string>
#include <optional>
#include <vector>

#include "BlobInspector.h"
#include "CommandLine.h"
#include "SampleFormat.h"

namespace perfquery {

struct Request {
  enum class Action { ListObjects, ListCounters, ListPaths, ShowValues, InspectBlob } action = Action::ListObjects;
  // An object's name or its index (#1234 or 1234), as given: the object of
  // -l, of -q (empty for every object), or whose values to show.
  std::basic_string<WCHAR> object;
  // Counter paths to show, as given, and the file of -cf holding more, one a
  // line, read when the program runs.
  std::vector<std::basic_string<WCHAR>> paths;
  std::basic_string<WCHAR> counterFile;
  // -qx: list every instance's paths instead of "(*)".
  bool everyInstance = false;
  Format format = Format::Table;
  // -o: the file to write instead of standard output; -y: replace it.
  std::basic_string<WCHAR> outputFile;
  bool overwrite = false;
  // --raw: raw data, no rates or percentages, from a single read.
  bool raw = false;
  DWORD intervalMilliseconds = 1000;
  // Samples to show; with -i and no -n, as many as there are until stopped.
  ULONGLONG count = 1;
  // --blob: the blob file to inspect, and --class: the class whose blob it
  // is, when the user says.
  std::basic_string<WCHAR> blobFile;
  std::optional<BlobClass> blobClass;
};

commandline::Parsed<Request> parseRequest(const commandline::Arguments &arguments);

extern const commandline::Program Program;

}  // namespace perfquery
