// Serving the metrics page until asked to stop: the same from the console
// and as a Windows service.
#pragma once

#include <functional>
#include <string>

#include "ExporterOptions.h"
#include "StopRequest.h"

namespace exporter {

using Log = std::function<void(const std::string &)>;

// Serves until `stop` is requested, telling `log` what it does and calling
// `running` once it listens. Success when stopped, Failure when the address
// cannot be listened on.
int serve(const Options &options, StopRequest &stop, const Log &log, const std::function<void()> &running);

}  // namespace exporter
