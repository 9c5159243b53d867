#include "PerfMgr.h"

#include "log/DirectReport.h"
#include "log/Frames.h"
#include "model/Members.h"
#include "model/TRVPCollectionImpl.h"
#include "server/Module.h"
#include "server/Text.h"
#include "xml/XmlResourceHelper.h"

namespace rv {

namespace {

constexpr double SecondsPerDay = 86400.0;

// The local wall-clock time to the second, as a DATE.
DATE localTimeNow(const Site &site) {
  SYSTEMTIME time = {};
  GetLocalTime(&time);
  time.wMilliseconds = 0;
  DATE now = 0.0;
  if (!SystemTimeToVariantTime(&time, &now)) raiseInternalCondition(site);
  return now;
}

// Whether an instance last stamped at `stamp` has outlived `timeout` seconds
// at `now`; a time-out of -1 never ends.
//
// The elapsed time is whole seconds, truncated toward zero, as a 32-bit
// signed count: the product is truncated to 64 bits and its low 32 bits kept,
// so a stamp more than 2^31 seconds (about 68 years) away wraps around. Two
// kinds of stamp are never swept, whatever the date: 0.0, the stamp of an
// instance whose host has not stamped it yet (it is being set up, not
// forgotten), and a stamp so far away, or not a number, that its seconds do
// not fit in 64 bits.
bool timedOut(DATE now, DATE stamp, LONG timeout) {
  if (timeout == -1 || stamp == 0.0) return false;
  const double seconds = (now - stamp) * SecondsPerDay;
  if (!(seconds > -9.2e18 && seconds < 9.2e18)) return false;
  const auto elapsed = static_cast<LONG>(static_cast<ULONG>(static_cast<ULONGLONG>(static_cast<LONGLONG>(seconds))));
  return elapsed >= timeout;
}

// An instance's name as the instance collection compares it: in capitals.
WideString instanceKey(IPerfInstance *instance, const Site &site) {
  Bstr name;
  raiseIfFailed(site, instance->get_Name(name.put()));
  return foldedName(name.get()).value_or(WideString());
}

}  // namespace

HRESULT PerfMgr::FinalConstruct() {
  RV_OPERATION("FinalConstruct");
  return memberFrame(RV_HERE, [&] {
    CreateChild(CLSID_PerfObjects, objects_);
    return S_OK;
  });
}

// The same collection for the whole life of the manager.
HRESULT PerfMgr::get_PerfObjects(IPerfObjects **objects) {
  if (objects == nullptr) return E_POINTER;
  *objects = ComPtr<IPerfObjects>(objects_).detach();
  return S_OK;
}

// The folder of the module's own file, without its last backslash. The path
// is read in the system code page, whose characters may take two bytes, so
// the backslash is looked for character by character.
HRESULT PerfMgr::get_InstallLocation(BSTR *location) {
  RV_OPERATION("get_InstallLocation");
  return memberFrame(RV_HERE, [&] {
    if (location == nullptr) raiseNullPointer(RV_HERE);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(Module::instance(), path, MAX_PATH);
    path[MAX_PATH - 1] = 0;
    char *lastBackslash = nullptr;
    for (char *at = path; *at != 0; at = CharNextA(at))
      if (*at == '\\') lastBackslash = at;
    if (lastBackslash != nullptr) *lastBackslash = 0;
    Bstr folder = toBstr(path);
    if (folder.get() == nullptr) raiseResult(RV_HERE, E_OUTOFMEMORY);
    *location = folder.detach();
    return S_OK;
  });
}

// Whether the definition file switches monitoring on: its PerfData element's
// Enabled attribute says exactly "1". The file is read on every call, and a
// missing element or attribute fails the call with the answer left disabled.
HRESULT PerfMgr::get_PerformanceSetting(RVPerformanceSetting *setting) {
  RV_OPERATION("get_PerformanceSetting");
  return memberFrame(RV_HERE, [&] {
    if (setting == nullptr) raiseNullPointer(RV_HERE);
    *setting = pmDisabled;
    XmlResourceHelper definitions(OLESTR("RVCounters.xml"));
    const Bstr enabled = definitions.GetAttributeString(OLESTR("/PerfData"), OLESTR("Enabled"));
    if (isText(enabled.get(), OLESTR("1"))) *setting = pmEnabled;
    return S_OK;
  });
}

// Removes, from every object that keeps a _Total, the instances whose time
// stamp is older than the object's time-out; _Total itself stays. The walk
// goes over the members as they were, and the position of each removal
// follows the shrinking collection.
HRESULT PerfMgr::RemoveTimedOutInstances() {
  RV_OPERATION("RemoveTimedOutInstances");
  return memberFrame(RV_HERE, [&] {
    const DATE now = localTimeNow(RV_HERE);
    for (const ComPtr<IPerfObject> &object : membersOf<IPerfObject>(objects_.get(), RV_HERE)) {
      LONG timeout = 0;
      VARIANT_BOOL keepsTotal = VARIANT_FALSE;
      ComPtr<IPerfInstances> instances;
      raiseIfFailed(RV_HERE, object->get_InstanceTimeout(&timeout));
      raiseIfFailed(RV_HERE, object->get_AutoCreateInstanceTotal(&keepsTotal));
      raiseIfFailed(RV_HERE, object->get_PerfInstances(instances.put()));
      if (keepsTotal != VARIANT_TRUE) continue;
      LONG position = 0;
      for (const ComPtr<IPerfInstance> &instance : membersOf<IPerfInstance>(instances.get(), RV_HERE)) {
        ++position;
        DATE stamp = 0.0;
        Bstr name;
        raiseIfFailed(RV_HERE, instance->get_TimeStamp(&stamp));
        raiseIfFailed(RV_HERE, instance->get_Name(name.put()));
        if (isText(name.get(), OLESTR("_Total")) || !timedOut(now, stamp, timeout)) continue;
        raiseIfFailed(RV_HERE, instances->Remove(position));
        --position;
      }
    }
    return S_OK;
  });
}

// Copies the live values of another manager into this one: objects matched by
// ID, instances by name, counters by ID. Everything is reset first, and only
// values travel; nothing is created or removed.
HRESULT PerfMgr::SyncronizeFrom(IPerfMgr *source) {
  RV_OPERATION("Syncronize");
  return memberFrame(RV_HERE, [&] {
    raiseIfFailed(RV_HERE, ResetCounters());
    if (source == nullptr) return reportDirect(iidOf<IPerfMgr>(), 601, iidOf<IPerfMgr>(), E_INVALIDARG);
    ComPtr<IPerfObjects> sourceObjects;
    raiseIfFailed(RV_HERE, source->get_PerfObjects(sourceObjects.put()));
    for (const ComPtr<IPerfObject> &object : membersOf<IPerfObject>(objects_.get(), RV_HERE)) {
      ComPtr<IPerfObject> from;
      raiseIfFailed(RV_HERE, sourceObjects->get_ItemByID(idOf(object.get(), RV_HERE), from.put()));
      if (!from) continue;
      VARIANT_BOOL hasInstances = VARIANT_FALSE;
      raiseIfFailed(RV_HERE, object->get_HasInstances(&hasInstances));
      if (hasInstances == VARIANT_TRUE) {
        syncInstances(object.get(), from.get());
        continue;
      }
      ComPtr<IPerfCounters> to, values;
      raiseIfFailed(RV_HERE, object->get_PerfCounters(to.put()));
      raiseIfFailed(RV_HERE, from->get_PerfCounters(values.put()));
      raiseIfFailed(RV_HERE, SyncCounters(to.get(), values.get()));
    }
    return S_OK;
  });
}

// Each instance of `destination` takes the values of the source instance of
// the same name; an instance the source lacks stays as it is.
void PerfMgr::syncInstances(IPerfObject *destination, IPerfObject *source) {
  RV_OPERATION("Syncronize");
  ComPtr<IPerfInstances> to, from;
  raiseIfFailed(RV_HERE, destination->get_PerfInstances(to.put()));
  raiseIfFailed(RV_HERE, source->get_PerfInstances(from.put()));
  const auto sources = firstByKey<WideString>(membersOf<IPerfInstance>(from.get(), RV_HERE),
                                              [](IPerfInstance *instance) { return instanceKey(instance, RV_HERE); });
  for (const ComPtr<IPerfInstance> &instance : membersOf<IPerfInstance>(to.get(), RV_HERE)) {
    const auto found = sources.find(instanceKey(instance.get(), RV_HERE));
    if (found == sources.end()) continue;
    ComPtr<IPerfCounters> counters, values;
    raiseIfFailed(RV_HERE, instance->get_PerfCounters(counters.put()));
    raiseIfFailed(RV_HERE, found->second->get_PerfCounters(values.put()));
    raiseIfFailed(RV_HERE, SyncCounters(counters.get(), values.get()));
  }
}

HRESULT PerfMgr::SyncCounters(IPerfCounters *destination, IPerfCounters *source) {
  RV_OPERATION("SyncCounters");
  return memberFrame(RV_HERE, [&] {
    const auto sources = firstByKey<LONG>(membersOf<IPerfCounter>(source, RV_HERE),
                                          [](IPerfCounter *counter) { return idOf(counter, RV_HERE); });
    for (const ComPtr<IPerfCounter> &counter : membersOf<IPerfCounter>(destination, RV_HERE)) {
      const auto found = sources.find(idOf(counter.get(), RV_HERE));
      if (found == sources.end()) continue;
      Variant value;
      raiseIfFailed(RV_HERE, found->second->get_Value(value.put()));
      if (V_VT(value.get()) != VT_EMPTY) raiseIfFailed(RV_HERE, counter->put_Value(*value.get()));
    }
    return S_OK;
  });
}

// Every counter of every object, template and instances alike, becomes empty.
HRESULT PerfMgr::ResetCounters() {
  RV_OPERATION("ResetCounters");
  return forwardToObjects(RV_HERE, [](IPerfObjects *objects) { return objects->ResetCounters(); });
}

HRESULT PerfMgr::CreateTotalInstances() {
  RV_OPERATION("CreateTotalInstances");
  return forwardToObjects(RV_HERE, [](IPerfObjects *objects) { return objects->CreateTotalInstances(); });
}

HRESULT PerfMgr::CalcTotalInstances() {
  RV_OPERATION("CalcTotalInstances");
  return forwardToObjects(RV_HERE, [](IPerfObjects *objects) { return objects->CalcTotalInstances(); });
}

}  // namespace rv
