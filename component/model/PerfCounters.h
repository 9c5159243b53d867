// A collection of counters: an object's counter template or an instance's
// live counters.
#pragma once
#include "PerfCounter.h"
#include "TRVPCollectionImpl.h"

namespace rv {

class PerfCounters : public TRVPCollectionImpl<PerfCounters, IPerfCounters, IPerfCounter, PerfCounter> {
 public:
  static constexpr LONG TypeCode = 4;
  static constexpr const char *rvSourceUnit = "PerfCounters";
};

}  // namespace rv
