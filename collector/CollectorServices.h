// The services whose Performance key names this collector, and what a reader
// can tell its user about each of their devices.
//
// The collector answers a device whose tree it cannot read with no data: the
// system's performance data query has no way to carry a message. A reader
// that wants to say why a device shows nothing asks reportDevices().
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "PerfDataWriter.h"

namespace rv::collector {

// A service whose Open entry point is this collector's: its name is the
// device a host publishes under.
struct CollectorService {
  Text device;
  Text library;         // its Library value, as written
  bool titled = false;  // whether lodctr installed its First Counter and First Help
  TitleBase titles;     // those, when installed
};

// Those services, in registry order. A value that could not be read for want
// of memory throws std::bad_alloc rather than passing the service over.
std::vector<CollectorService> collectorServices();

struct DeviceReport {
  enum class State {
    Published,   // a host publishes a tree that reads
    NotRunning,  // no host publishes (none running, or withdrawn)
    Unreadable,  // published, but the tree cannot be read: `reason` says why
  };
  Text device;
  State state = State::NotRunning;
  std::string reason;
  HRESULT failure = S_OK;  // the section call's, where one failed: the reason's cause
};

// Every service's device and what became of its tree, in registry order.
std::vector<DeviceReport> reportDevices();

}  // namespace rv::collector
