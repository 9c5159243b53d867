// perf_exporter: serves the performance data that the system publishes
// (HKEY_PERFORMANCE_DATA, read as perfquery reads it) as a metrics page for
// Prometheus, prints that page once, or on Windows runs as a service.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ExporterOptions.h"
#include "Scraper.h"
#include "Serving.h"
#include "StopRequest.h"
#include "TextFormat.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "ExporterService.h"
#endif

using namespace exporter;

namespace {

void toStandardError(const std::string &message) { fprintf(stderr, "perf_exporter: %s\n", message.c_str()); }

int printOnce(const Options &options) {
  Scraper scraper(options.families, toStandardError);
  std::shared_ptr<const Reading> reading = scraper.readNow();
  if (reading == nullptr) {
    toStandardError("out of memory");
    return Failure;
  }
  // The scraper said why; a page with what could be read is still printed.
  if (!reading->succeeded && !reading->anyData()) return Failure;
  std::string page = renderPage(reading->families, TextFormat::OpenMetrics);
#ifdef _WIN32
  // The page's lines end in LF alone, as the format asks, not in CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  fwrite(page.data(), 1, page.size(), stdout);
  return Success;
}

int run(const Options &options) {
  switch (options.action) {
    case Action::Once: return printOnce(options);
#ifdef _WIN32
    case Action::InstallService: return installService(options);
    case Action::UninstallService: return uninstallService();
    case Action::RunService: return runService(options);
#endif
    default: {
      StopRequest stop;
      return serve(options, stop, toStandardError, [] {});
    }
  }
}

}  // namespace

int main(int argc, char **argv) { return commandline::runProgram(exporter::Program, argc, argv, parseOptions, run); }
