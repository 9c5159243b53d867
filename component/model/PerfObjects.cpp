#include "PerfObjects.h"

#include "log/Frames.h"

namespace rv {

// Every object that keeps a total gets its _Total instance; one that has it
// already keeps it, since CreateInstance hands back an existing instance.
HRESULT PerfObjects::CreateTotalInstances() {
  RV_OPERATION("CreateTotalInstances");
  return memberFrame(RV_HERE, [&] {
    const Bstr totalName(OLESTR("_Total"));
    const std::vector<ComPtr<IPerfObject>> objects = members();
    for (const ComPtr<IPerfObject> &object : objects) {
      VARIANT_BOOL hasInstances = VARIANT_FALSE, keepsTotal = VARIANT_FALSE;
      raiseIfFailed(RV_HERE, object->get_HasInstances(&hasInstances));
      raiseIfFailed(RV_HERE, object->get_AutoCreateInstanceTotal(&keepsTotal));
      if (hasInstances != VARIANT_TRUE || keepsTotal != VARIANT_TRUE) continue;
      ComPtr<IPerfInstance> total;
      raiseIfFailed(RV_HERE, object->CreateInstance(totalName.get(), total.put()));
    }
    return S_OK;
  });
}

// The first object that fails stops the walk; the ones after it keep their
// old totals.
HRESULT PerfObjects::CalcTotalInstances() {
  RV_OPERATION("CalcTotalInstances");
  return memberFrame(RV_HERE, [&] {
    const std::vector<ComPtr<IPerfObject>> objects = members();
    for (const ComPtr<IPerfObject> &object : objects) raiseIfFailed(RV_HERE, object->CalcTotalInstance());
    return S_OK;
  });
}

}  // namespace rv
