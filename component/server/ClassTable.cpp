#include "ClassTable.h"

#include "ObjectRoot.h"
#include "manager/PerfMgr.h"
#include "model/PerfCounter.h"
#include "model/PerfCounters.h"
#include "model/PerfInstance.h"
#include "model/PerfInstances.h"
#include "model/PerfObject.h"
#include "model/PerfObjects.h"
#include "resource.h"

namespace rv {

namespace {

// Every class can be aggregated, as its objects' controlling unknown allows.
template <typename T> inproc::ClassObject classObjectOf() {
  return inproc::ClassObject(&ObjectRoot::create<T>, inproc::Aggregation::Allowed);
}

const ClassRow rows[ClassCount] = {
    {&CLSID_PerfCounter, "PerfCounter", IDR_PERFCOUNTER, classObjectOf<PerfCounter>()},
    {&CLSID_PerfObject, "PerfObject", IDR_PERFOBJECT, classObjectOf<PerfObject>()},
    {&CLSID_PerfCounters, "PerfCounters", IDR_PERFCOUNTERS, classObjectOf<PerfCounters>()},
    {&CLSID_PerfObjects, "PerfObjects", IDR_PERFOBJECTS, classObjectOf<PerfObjects>()},
    {&CLSID_PerfMgr, "PerfMgr", IDR_PERFMGR, classObjectOf<PerfMgr>()},
    {&CLSID_PerfInstance, "PerfInstance", IDR_PERFINSTANCE, classObjectOf<PerfInstance>()},
    {&CLSID_PerfInstances, "PerfInstances", IDR_PERFINSTANCES, classObjectOf<PerfInstances>()},
};

}  // namespace

std::span<const ClassRow, ClassCount> classTable() { return std::span<const ClassRow, ClassCount>(rows); }

}  // namespace rv
