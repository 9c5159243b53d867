// perf_exporter as a Windows service, named perf_exporter: installed with the
// options it is to serve with, run under the service control manager, and
// removed again.
#pragma once

#include "ExporterOptions.h"

namespace exporter {

// Registers the service, started with the system, to run this program with
// --service and the serving options. Exit code, after saying what it did.
int installService(const Options &options);

// Stops the service if it runs, then removes it.
int uninstallService();

// Runs as the service: only the service control manager starts a program
// so, and this returns once the service has stopped.
int runService(const Options &options);

}  // namespace exporter
