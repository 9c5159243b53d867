// The instances of a performance object.
#pragma once
#include "TRVPCollectionImpl.h"

namespace rv {

class PerfInstances : public TRVPCollectionImpl<PerfInstances, IPerfInstances, IPerfInstance> {
 public:
  static constexpr LONG TypeCode = 6;
};

}  // namespace rv
