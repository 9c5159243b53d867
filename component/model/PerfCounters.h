// A collection of counters: an object's counter template or an instance's
// live counters.
#pragma once
#include "TRVPCollectionImpl.h"

namespace rv {

class PerfCounters : public TRVPCollectionImpl<PerfCounters, IPerfCounters, IPerfCounter> {
 public:
  static constexpr LONG TypeCode = 4;
};

}  // namespace rv
