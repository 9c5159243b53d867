// The collector's state between Open and Close. It serves the services whose
// Performance key names this very module as its Library and whose Open entry
// point is this collector's: each service's name is the device under which a
// host publishes its tree.
//
// When several services name the module, the system loads it once and calls
// Open and Collect once for each, and neither call says which service it is
// for: Windows hands Open the names in a service's Linkage\Export, which
// Register writes none of, and Wine (as the platform) hands it none at all.
// So the first Collect of a query serves every published tree, in registry
// order, each under its own service's title indices, and the others of the
// same query serve nothing. A call belongs to the query that the previous
// one served when the system hands it the buffer exactly where that one
// stopped writing, as it does from one service to the next within a query.
//
// Between calls the collector keeps, per device, the data section mapped and
// the layout of the last tree's answer (AnswerPlan), so that a reader that
// polls a tree whose shape has not changed gets it for the price of a
// comparison and a copy. Collect may be called from several threads at once:
// a call takes a device's kept state for itself while it uses it, and a call
// that finds none at the moment starts afresh, as the first call did.
#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "AnswerPlan.h"
#include "PerfDataWriter.h"
#include "PublishedTree.h"

namespace rv::collector {

// Name indices used when lodctr installed none ("First Counter" and "First
// Help" missing, as under Wine, whose lodctr installs nothing): readers then
// show the index itself. The k-th service (from 0, in registry order) that
// names this module numbers from FallbackFirstCounter + k * FallbackStep, so
// that two devices never share an index. Names stay even and help texts
// odd, as lodctr would number them.
constexpr DWORD FallbackFirstCounter = 10000;
constexpr DWORD FallbackFirstHelp = 10001;
constexpr DWORD FallbackStep = 10000;

class PerfCollector {
 public:
  PerfCollector();
  PerfCollector(const PerfCollector &) = delete;
  PerfCollector &operator=(const PerfCollector &) = delete;
  ~PerfCollector();

  // Never fails: a host that is not running, or not even registered yet, is
  // a collector with nothing to report, not one to disable.
  DWORD open(HMODULE self);
  DWORD collect(const WCHAR *query, void **data, DWORD *bytes, DWORD *objects);
  void close();

 private:
  // What the collector keeps of a device from one call to the next.
  struct DeviceReading {
    explicit DeviceReading(const Text &name) : device(name), reader(name.c_str()) {}
    Text device;
    publishing::PublishedTreeReader reader;
    AnswerPlan plan;
    std::vector<BYTE> copy;  // the last blob that did not fit the plan
  };
  class Borrowed;

  // A device and the title indices of its service.
  struct Served {
    Text device;
    TitleBase titles;
  };

  // The services that name this module, in registry order.
  std::vector<Served> servedDevices() const;
  // Reads the device's tree into its plan: false when its host publishes none
  // that reads.
  static bool readInto(DeviceReading &reading, TitleBase titles, publishing::PublishedClock &publishedAt);
  // Collect's work once the arguments are checked; `capacity` is the buffer's.
  DWORD collectFrom(bool opened, const WCHAR *query, void **data, DWORD *bytes, DWORD *objects, DWORD capacity);

  Text moduleFile_;
  LONG opened_ = 0;
  // Where the last call that served trees stopped writing; null when the
  // last one served nothing.
  const void *servedEnd_ = nullptr;
  // The devices' kept state that no call uses at the moment.
  std::vector<std::unique_ptr<DeviceReading>> idle_;
  CRITICAL_SECTION lock_;
};

}  // namespace rv::collector
