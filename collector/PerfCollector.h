// The collector's state between Open and Close. It serves a service whose
// Performance key names this very module as its Library and whose Open entry
// point is this collector's: that service's name is the device under which
// the host publishes its tree. The system cannot tell a collector which of
// several such services it is called for, so one library serves one running
// host: the first such service, in registry order, whose tree is published.
#pragma once
#include <windows.h>

#include <vector>

#include "PerfDataWriter.h"

namespace rv::collector {

// Name indices used when lodctr installed none ("First Counter" and "First
// Help" missing, as under Wine, whose lodctr installs nothing): readers then
// show the index itself. Names stay even and help texts odd, as lodctr would
// number them.
constexpr DWORD FallbackFirstCounter = 10000;
constexpr DWORD FallbackFirstHelp = 10001;

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
  // Reads the tree of this collector's service and its title indices; false
  // when no service that names this module has a tree published.
  bool findPublishedTree(std::vector<BYTE> &blob, TitleBase &titles) const;
  // Collect's work once the arguments are checked; `capacity` is the buffer's.
  DWORD collectFrom(bool opened, const WCHAR *query, void **data, DWORD *bytes, DWORD *objects,
                    DWORD capacity) const;

  Text moduleFile_;
  LONG opened_ = 0;
  CRITICAL_SECTION lock_;
};

}  // namespace rv::collector
