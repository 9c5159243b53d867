// The instances of a performance object.
#pragma once
#include "PerfInstance.h"
#include "TRVPCollectionImpl.h"

namespace rv {

class PerfInstances : public TRVPCollectionImpl<PerfInstances, IPerfInstances, IPerfInstance, PerfInstance> {
 public:
  static constexpr LONG TypeCode = 6;
  static constexpr const char *rvSourceUnit = "PerfInstances";
};

// A host creates its instances by name, each looked up first.
static_assert(CountsRenames<PerfInstance>, "the instances keep a name index");

}  // namespace rv
