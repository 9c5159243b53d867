// The interface identifier of each interface type the component implements
// or asks for, so that templates can name them by type.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "rvZedaZuvivurAzodav.h"

namespace rv {

template <typename I> struct InterfaceId;

#define RV_INTERFACE_ID(I)                      \
  template <> struct InterfaceId<I> {           \
    static const IID &get() { return IID_##I; } \
  };

RV_INTERFACE_ID(IUnknown)
RV_INTERFACE_ID(IDispatch)
RV_INTERFACE_ID(ISupportErrorInfo)
RV_INTERFACE_ID(IEnumVARIANT)
RV_INTERFACE_ID(IPerfCounter)
RV_INTERFACE_ID(IPerfCounters)
RV_INTERFACE_ID(IPerfInstance)
RV_INTERFACE_ID(IPerfInstances)
RV_INTERFACE_ID(IPerfObject)
RV_INTERFACE_ID(IPerfObjects)
RV_INTERFACE_ID(IPerfMgr)
RV_INTERFACE_ID(IPerfCommon)
RV_INTERFACE_ID(IPerfTransfer)
RV_INTERFACE_ID(IPerfCollection)

#undef RV_INTERFACE_ID

template <typename I> const IID &iidOf() { return InterfaceId<I>::get(); }

}  // namespace rv
