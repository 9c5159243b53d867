#include "QueryOptions.h"

#include <cstdlib>

#include "CounterPath.h"
#include "Utf8Text.h"

namespace perfquery {
namespace {

std::string usage() {
  return "Usage:\n"
         "  perfquery                                 list the performance objects\n"
         "  perfquery -l OBJECT                       list an object's counters, with their\n"
         "                                            types and help texts, and its instances\n"
         "  perfquery -q [OBJECT]                     list the counter paths (of one object)\n"
         "  perfquery -qx [OBJECT]                    the same, one path per instance\n"
         "  perfquery OBJECT [options]                show an object's counter values\n"
         "  perfquery PATH... [options]               show the values of counter paths\n"
         "  perfquery -cf FILE [PATH...] [options]    the same, paths read from FILE\n"
         "  perfquery --blob FILE [--class CLASS] [-f TABLE|JSON] [-o FILE [-y]]\n"
         "                                            show the records of a blob file\n"
         "  perfquery --help                          show this text (also -h, /?)\n"
         "\n"
         "Options for values:\n"
         "  -i SECONDS, -si SECONDS   the interval between samples (default 1); also\n"
         "                            written [[hh:]mm:]ss\n"
         "  -n COUNT, -sc COUNT       how many samples to show\n"
         "  -f TABLE|CSV|TSV|JSON     the output format (default TABLE)\n"
         "  -o FILE                   write to FILE instead of standard output (also\n"
         "                            with -q and -l); an existing FILE is kept\n"
         "  -y                        replace an existing FILE of -o\n"
         "  --raw                     raw counter data: a rate shows its count, a\n"
         "                            fraction its numerator, and the first sample\n"
         "                            is taken at once\n"
         "\n"
         "OBJECT is an object's name or its index, written #1234 or 1234. A PATH is\n"
         "\\Object(Instance)\\Counter, or \\Object\\Counter for an object without\n"
         "instances, optionally after \\\\machine; names are as -q lists them, or\n"
         "indices, and * matches any text: \\Object(*)\\* is every counter of every\n"
         "instance. An instance named like an earlier one is Name#1, #2 and so on.\n"
         "Paths are matched once, at the start: instances that come later are not\n"
         "shown, those that go show no value. In FILE of -cf, empty lines and lines\n"
         "beginning with # are skipped.\n"
         "\n"
         "-n alone samples every second, -i alone until stopped, neither once. A\n"
         "rate needs two samples: perfquery reads once, waits one interval, and\n"
         "shows the rate since; a count that went down (a _Total whose instance\n"
         "closed) has no value until the next sample. TABLE shows an OBJECT one line\n"
         "per instance and PATHs one line each, with the local time and its zone\n"
         "when there are several samples. CSV and TSV are the system reader's\n"
         "layout: a header row \"(PDH-CSV 4.0) (zone)(bias)\" and the full counter\n"
         "paths, then one row per sample beginning with its local time\n"
         "MM/DD/YYYY HH:MM:SS.mmm, every cell quoted. JSON writes one object per\n"
         "sample and line: {\"time\": local time and zone, \"path\": value, ...}, with\n"
         "null for no value. Names not installed show as their index (#1234).\n"
         "\n"
         "--blob reads a file holding a blob (MyBlob's byte array, or its string\n"
         "form written as UTF-16 text beginning with FF FE) through the registered\n"
         "component, and shows every record with its offset and end, its class and\n"
         "what the component read from it, up to the first record it cannot read,\n"
         "with that record's offset, the component's own description of what is\n"
         "wrong and where its reading stopped. A blob does not say which class wrote\n"
         "it: --class manager|object|instance|counter says so; without it, the first\n"
         "of these four that reads the blob to exactly its end is taken, failing\n"
         "that the first that reads it without error, failing that the one whose\n"
         "reading gets furthest. -f TABLE (the default) or JSON.\n"
         "\n"
         "Exit status: 0 done, 1 an unknown object, no path that matches a counter,\n"
         "an output file that exists or cannot be written, or performance data that\n"
         "could not be read (standard error says which), a blob file that cannot be\n"
         "read or whose blob is damaged, 2 wrong usage.\n";
}

// Seconds as "2.5", or as the system's reader writes them, "[[hh:]mm:]ss".
bool parseSeconds(const std::string &text, DWORD &milliseconds) {
  double seconds = 0;
  size_t start = 0;
  int parts = 0;
  while (true) {
    const size_t colon = text.find(':', start);
    const std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (part.empty() || ++parts > 3) return false;
    char *end = nullptr;
    const double value = strtod(part.c_str(), &end);
    if (*end != '\0' || !(value >= 0)) return false;
    if (colon == std::string::npos) {
      seconds = seconds * 60.0 + value;
      break;
    }
    // Hours and minutes are whole numbers.
    if (part.find_first_not_of("0123456789") != std::string::npos) return false;
    seconds = seconds * 60.0 + value;
    start = colon + 1;
  }
  if (!(seconds >= 0.001 && seconds <= 86400.0)) return false;
  milliseconds = static_cast<DWORD>(seconds * 1000.0 + 0.5);
  return true;
}

bool parseCount(const std::string &text, ULONGLONG &count) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  count = strtoull(text.c_str(), nullptr, 10);
  return count > 0;
}

bool parseFormat(std::string text, Format &format) {
  for (char &c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  const struct {
    const char *name;
    Format format;
  } formats[] = {{"TABLE", Format::Table}, {"CSV", Format::Csv}, {"TSV", Format::Tsv}, {"JSON", Format::Json}};
  for (const auto &entry : formats) {
    if (text == entry.name) {
      format = entry.format;
      return true;
    }
  }
  return false;
}

}  // namespace

const commandline::Program Program{"perfquery", usage};

commandline::Parsed<Request> parseRequest(const commandline::Arguments &arguments) {
  using Parsed = commandline::Parsed<Request>;
  using commandline::fromUtf8;
  if (commandline::asksForHelp(arguments)) return Parsed::help();
  Request request;
  bool listing = false, querying = false, objectGiven = false;
  bool intervalGiven = false, countGiven = false, formatGiven = false, outputGiven = false;
  auto isOption = [](const std::string &argument) { return argument.size() > 1 && argument[0] == '-'; };
  for (size_t at = 0; at < arguments.size(); ++at) {
    const std::string &argument = arguments[at];
    const bool takesValue = argument == "-l" || argument == "-i" || argument == "-si" || argument == "-n" ||
                            argument == "-sc" || argument == "-cf" || argument == "-f" || argument == "-o" ||
                            argument == "--blob" || argument == "--class";
    if (takesValue && at + 1 == arguments.size()) return Parsed::wrong("option " + argument + " needs a value");
    if (argument == "-l") {
      if (listing || querying || objectGiven) return Parsed::wrong("only one object can be named");
      listing = objectGiven = true;
      request.object = fromUtf8(arguments[++at]);
    } else if (argument == "-q" || argument == "-qx") {
      if (listing || querying || objectGiven) return Parsed::wrong("only one object can be named");
      querying = true;
      request.everyInstance = argument == "-qx";
      if (at + 1 < arguments.size() && !isOption(arguments[at + 1])) {
        objectGiven = true;
        request.object = fromUtf8(arguments[++at]);
      }
    } else if (argument == "-i" || argument == "-si") {
      if (intervalGiven) return Parsed::wrong("the interval (-i, -si) is given twice");
      if (!parseSeconds(arguments[++at], request.intervalMilliseconds))
        return Parsed::wrong(argument + " needs a number of seconds from 0.001 to 86400, not '" + arguments[at] + "'");
      intervalGiven = true;
    } else if (argument == "-n" || argument == "-sc") {
      if (countGiven) return Parsed::wrong("the count (-n, -sc) is given twice");
      if (!parseCount(arguments[++at], request.count))
        return Parsed::wrong(argument + " needs a count from 1 to 999999999, not '" + arguments[at] + "'");
      countGiven = true;
    } else if (argument == "-cf") {
      if (!request.counterFile.empty()) return Parsed::wrong("-cf is given twice");
      request.counterFile = fromUtf8(arguments[++at]);
      if (request.counterFile.empty()) return Parsed::wrong("-cf needs a file name");
    } else if (argument == "-f") {
      if (formatGiven) return Parsed::wrong("-f is given twice");
      if (!parseFormat(arguments[++at], request.format))
        return Parsed::wrong("-f needs TABLE, CSV, TSV or JSON, not '" + arguments[at] + "'");
      formatGiven = true;
    } else if (argument == "-o") {
      if (outputGiven) return Parsed::wrong("-o is given twice");
      request.outputFile = fromUtf8(arguments[++at]);
      if (request.outputFile.empty()) return Parsed::wrong("-o needs a file name");
      outputGiven = true;
    } else if (argument == "--blob") {
      if (!request.blobFile.empty()) return Parsed::wrong("--blob is given twice");
      request.blobFile = fromUtf8(arguments[++at]);
      if (request.blobFile.empty()) return Parsed::wrong("--blob needs a file name");
    } else if (argument == "--class") {
      BlobClass blobClass = BlobClass::Manager;
      if (request.blobClass) return Parsed::wrong("--class is given twice");
      if (!parseBlobClass(arguments[++at], blobClass))
        return Parsed::wrong("--class needs manager, object, instance or counter, not '" + arguments[at] + "'");
      request.blobClass = blobClass;
    } else if (argument == "-y") {
      request.overwrite = true;
    } else if (argument == "--raw") {
      request.raw = true;
    } else if (isOption(argument)) {
      return Parsed::wrong("unknown option '" + argument + "'");
    } else if (!argument.empty() && (argument[0] == '\\' || argument[0] == '/')) {
      CounterPath path;
      std::string problem;
      if (!parseCounterPath(fromUtf8(argument), path, problem))
        return Parsed::wrong("'" + argument + "' is not a counter path: " + problem);
      request.paths.push_back(fromUtf8(argument));
    } else {
      if (objectGiven) return Parsed::wrong("only one object can be named");
      objectGiven = true;
      request.object = fromUtf8(argument);
    }
  }
  const bool pathsGiven = !request.paths.empty() || !request.counterFile.empty();
  const bool valueOptions = intervalGiven || countGiven || formatGiven || request.raw;
  if (request.blobClass && request.blobFile.empty()) return Parsed::wrong("--class goes with --blob FILE");
  if (!request.blobFile.empty()) {
    if (listing || querying || objectGiven || pathsGiven || intervalGiven || countGiven || request.raw)
      return Parsed::wrong("--blob takes only --class, -f, -o and -y");
    if (request.format != Format::Table && request.format != Format::Json)
      return Parsed::wrong("--blob shows TABLE or JSON");
    if (request.overwrite && !outputGiven) return Parsed::wrong("-y goes with -o FILE");
    request.action = Request::Action::InspectBlob;
    return Parsed::run(std::move(request));
  }
  if (listing || querying) {
    const char *option = listing ? "-l" : "-q";
    if (pathsGiven) return Parsed::wrong(std::string(option) + " takes no counter paths");
    if (valueOptions) return Parsed::wrong(std::string(option) + " takes none of -i, -n, -f and --raw");
  }
  if (!listing && !querying && objectGiven && pathsGiven)
    return Parsed::wrong("name either an object or counter paths, not both");
  if (!objectGiven && !pathsGiven && !querying && valueOptions)
    return Parsed::wrong("-i, -n, -f and --raw need an object or counter paths");
  if (request.overwrite && !outputGiven) return Parsed::wrong("-y goes with -o FILE");
  if (listing) {
    request.action = Request::Action::ListCounters;
  } else if (querying) {
    request.action = Request::Action::ListPaths;
  } else if (objectGiven || pathsGiven) {
    request.action = Request::Action::ShowValues;
    if (intervalGiven && !countGiven) request.count = ~0ull;
  }
  return Parsed::run(std::move(request));
}

}  // namespace perfquery
