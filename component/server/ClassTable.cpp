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

const ClassRow rows[ClassCount] = {
    {&CLSID_PerfCounter, "PerfCounter", OLESTR("rvZedaZuvivurAzodav_83.PerfCounter"), IDR_PERFCOUNTER,
     &IID_IPerfCounter, &ObjectRoot::create<PerfCounter>},
    {&CLSID_PerfObject, "PerfObject", OLESTR("rvZedaZuvivurAzodav_83.PerfObject"), IDR_PERFOBJECT, &IID_IPerfObject,
     &ObjectRoot::create<PerfObject>},
    {&CLSID_PerfCounters, "PerfCounters", OLESTR("rvZedaZuvivurAzodav_83.PerfCounters"), IDR_PERFCOUNTERS,
     &IID_IPerfCounters, &ObjectRoot::create<PerfCounters>},
    {&CLSID_PerfObjects, "PerfObjects", OLESTR("rvZedaZuvivurAzodav_83.PerfObjects"), IDR_PERFOBJECTS,
     &IID_IPerfObjects, &ObjectRoot::create<PerfObjects>},
    {&CLSID_PerfMgr, "PerfMgr", OLESTR("rvZedaZuvivurAzodav_83.PerfMgr"), IDR_PERFMGR, &IID_IPerfMgr,
     &ObjectRoot::create<PerfMgr>},
    {&CLSID_PerfInstance, "PerfInstance", OLESTR("rvZedaZuvivurAzodav_83.PerfInstance"), IDR_PERFINSTANCE,
     &IID_IPerfInstance, &ObjectRoot::create<PerfInstance>},
    {&CLSID_PerfInstances, "PerfInstances", OLESTR("rvZedaZuvivurAzodav_83.PerfInstances"), IDR_PERFINSTANCES,
     &IID_IPerfInstances, &ObjectRoot::create<PerfInstances>},
};

}  // namespace

std::span<const ClassRow, ClassCount> classTable() { return std::span<const ClassRow, ClassCount>(rows); }

const ClassRow *findClass(REFCLSID clsid) {
  for (const ClassRow &row : rows)
    if (IsEqualCLSID(clsid, *row.clsid)) return &row;
  return nullptr;
}

}  // namespace rv
