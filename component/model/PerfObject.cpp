#include "PerfObject.h"

#include <algorithm>
#include <unordered_map>

#include "Members.h"
#include "PerfCounters.h"
#include "PerfInstances.h"
#include "log/DirectReport.h"
#include "log/Frames.h"
#include "server/Text.h"

namespace rv {

namespace {

constexpr const OLECHAR *TotalName = OLESTR("_Total");
// The keyword that keeps a counter out of the total is spelt this way; the
// initial keyword "no_calc" sums like any other.
constexpr const OLECHAR *NotTotalled = OLESTR("no_cacl");
constexpr const OLECHAR *Averaged = OLESTR("avg");

bool truthOf(VARIANT_BOOL value) { return value == VARIANT_TRUE; }

Bstr keywordOf(IPerfCounter *counter, const Site &site) {
  Bstr keyword;
  raiseIfFailed(site, counter->get_AutoCalcInstanceTotal(keyword.put()));
  return keyword;
}

// Adds one instance's value to the running sum its _Total counter holds and
// stores the result. Integers add modulo 2^32, doubles in double precision;
// empty values and byte arrays add nothing. A total takes its kind from the
// first value that reaches it. Where integers and doubles meet under one ID,
// the total becomes a double: every 32-bit integer converts exactly, so
// nothing contributed is lost and the tag always says what the bits are.
// A total of any other kind is stored back as it is, and the counter's type
// check refuses it.
void addToTotal(IPerfCounter *total, const VARIANT &value, const Site &site) {
  const VARTYPE kind = V_VT(&value);
  if (kind != VT_I4 && kind != VT_R8) return;
  Variant sum;
  raiseIfFailed(site, total->get_Value(sum.put()));
  VARIANT &s = *sum.get();
  if (V_VT(&s) == VT_EMPTY) {
    V_VT(&s) = kind;
    if (kind == VT_I4)
      V_I4(&s) = 0;
    else
      V_R8(&s) = 0.0;
  }
  if (V_VT(&s) == VT_I4 && kind == VT_I4) {
    V_I4(&s) = static_cast<LONG>(static_cast<ULONG>(V_I4(&s)) + static_cast<ULONG>(V_I4(&value)));
  } else if (V_VT(&s) == VT_I4 || V_VT(&s) == VT_R8) {
    const double before = V_VT(&s) == VT_I4 ? static_cast<double>(V_I4(&s)) : V_R8(&s);
    V_VT(&s) = VT_R8;
    V_R8(&s) = before + (kind == VT_I4 ? static_cast<double>(V_I4(&value)) : V_R8(&value));
  }
  raiseIfFailed(site, total->put_Value(s));
}

// Divides an averaged total by the number of instances that took part:
// integers truncate toward zero, doubles divide in double precision; an
// empty total stays empty, and with no instance at all it is cleared.
void averageTotal(IPerfCounter *total, LONG instances, const Site &site) {
  if (instances == 0) {
    raiseIfFailed(site, total->ResetCounter());
    return;
  }
  Variant value;
  raiseIfFailed(site, total->get_Value(value.put()));
  VARIANT &v = *value.get();
  if (V_VT(&v) == VT_I4)
    V_I4(&v) /= instances;
  else if (V_VT(&v) == VT_R8)
    V_R8(&v) /= instances;
  else
    return;
  raiseIfFailed(site, total->put_Value(v));
}

using TotalsById = std::unordered_map<LONG, ComPtr<IPerfCounter>>;

// Adds one instance counter's value to the _Total counter of its ID: the
// sum pass's step, whichever way the counter is read.
void sumInto(const TotalsById &totalsById, LONG id, const VARIANT &value, const Site &site) {
  const auto sum = totalsById.find(id);
  if (sum != totalsById.end()) addToTotal(sum->second.get(), value, site);
}

// The counter collection of one of this component's instances, where it is
// this component's own.
PerfCounters *ownCounters(const PerfInstance &instance) {
  return dynamic_cast<PerfCounters *>(ObjectRoot::ownNode(instance.counterCollection()));
}

// The sum pass over one instance's counters read directly, without a copy
// of the member list, the keywords or the values, where nobody can tell:
// the collection (of an instance of this component) is this component's
// own and made every counter, and the _Total counters are this component's
// own too (the caller checks), so nothing on the way calls out to code that
// could change a list. false, with nothing summed, where the instance is to
// be read through its interfaces.
bool sumDirectly(PerfCounters *counters, const TotalsById &totalsById, const Site &site) {
  return counters != nullptr && counters->visitMade([&](const PerfCounter &counter) {
    if (!isText(counter.keywordText(), NotTotalled)) sumInto(totalsById, counter.idValue(), counter.valueRef(), site);
  });
}

// Asks for the `size` bytes at `address` ahead of their use.
void prefetch(const void *address, size_t size) {
  for (size_t offset = 0; offset < size; offset += 64) __builtin_prefetch(static_cast<const char *>(address) + offset);
}

}  // namespace

HRESULT PerfObject::FinalConstruct() {
  RV_OPERATION("FinalConstruct");
  return memberFrame(RV_HERE, [&] {
    CreateChild(CLSID_PerfCounters, counters_);
    CreateChild(CLSID_PerfInstances, instances_);
    return S_OK;
  });
}

HRESULT PerfObject::get_PerfCounters(IPerfCounters **counters) {
  if (counters == nullptr) return E_POINTER;
  *counters = ComPtr<IPerfCounters>(counters_).detach();
  return S_OK;
}

HRESULT PerfObject::get_PerfInstances(IPerfInstances **instances) {
  if (instances == nullptr) return E_POINTER;
  *instances = ComPtr<IPerfInstances>(instances_).detach();
  return S_OK;
}

// The template first, then the instances, _Total among them.
HRESULT PerfObject::ResetCounters() {
  RV_OPERATION("ResetCounters");
  return memberFrame(RV_HERE, [&] {
    raiseIfFailed(RV_HERE, counters_->ResetCounters());
    raiseIfFailed(RV_HERE, instances_->ResetCounters());
    return S_OK;
  });
}

// An existing instance is found by its name in capitals and handed back as it
// is; a new one goes to the end of the collection with the name as given and
// a copy of the template, values included. An instance added before a later
// step fails stays in the collection.
HRESULT PerfObject::CreateInstance(BSTR name, IPerfInstance **instance) {
  RV_OPERATION("CreateInstance");
  return memberFrame(RV_HERE, [&] {
    if (instance == nullptr) raiseNullPointer(RV_HERE);
    *instance = nullptr;
    if (!truthOf(hasInstances_))
      return reportDirect(CLSID_PerfObject, "CreateInstance failure. Object does not support instances.", GUID_NULL,
                          E_FAIL);
    ComPtr<IPerfInstance> found;
    raiseIfFailed(RV_HERE, instances_->get_ItemByName(name, found.put()));
    if (!found) {
      raiseIfFailed(RV_HERE, instances_->AddNew(0, found.put()));
      raiseIfFailed(RV_HERE, found->put_Name(name));
      ComPtr<IPerfCounters> counters;
      raiseIfFailed(RV_HERE, found->get_PerfCounters(counters.put()));
      if (!copiedTemplateInto(counters.get())) raiseIfFailed(RV_HERE, counters->CopyFrom(counters_.get()));
    }
    *instance = found.detach();
    return S_OK;
  });
}

// The counter template copied into a new instance's empty collection
// without a blob, sharing the template's texts: where the trace does not
// record each step and the template and the collection are this
// component's own, the template made every counter, and every value copies
// as it stands. false, with nothing copied, where CopyFrom must do it.
bool PerfObject::copiedTemplateInto(IPerfCounters *counters) {
  if (entryRecordsWanted()) return false;
  auto *to = dynamic_cast<PerfCounters *>(ObjectRoot::ownNode(counters));
  auto *from = dynamic_cast<PerfCounters *>(ObjectRoot::ownNode(counters_.get()));
  if (to == nullptr || from == nullptr || !to->empty() || !from->madeAll()) return false;
  return to->appendMade(from->madeMembers(),
                        [](PerfCounter &made, const PerfCounter &source) { return made.cloneOf(source); });
}

// Recalculates the _Total instance from the other instances: a sum pass that
// follows each instance counter's keyword, then an average pass that follows
// each _Total counter's keyword.
HRESULT PerfObject::CalcTotalInstance() {
  RV_OPERATION("CreateTotalInstance");
  return memberFrame(RV_HERE, [&] {
    if (!truthOf(hasInstances_) || !truthOf(autoCreateTotal_)) return S_OK;
    ComPtr<IPerfInstance> total;
    raiseIfFailed(RV_HERE, instances_->get_ItemByName(const_cast<BSTR>(TotalName), total.put()));
    if (!total)
      return reportDirect(CLSID_PerfObject,
                          "CalcTotalInstance failed. No _Total instance found. Call CreateInstance() first.", GUID_NULL,
                          E_FAIL);
    ComPtr<IPerfCounters> totalCounters;
    raiseIfFailed(RV_HERE, total->get_PerfCounters(totalCounters.put()));
    raiseIfFailed(RV_HERE, totalCounters->ResetCounters());
    // Indexed by ID once, so that the sum pass costs one step per counter
    // whatever the size of the template.
    const std::vector<ComPtr<IPerfCounter>> totals = membersOf<IPerfCounter>(totalCounters.get(), RV_HERE);
    const auto totalsById = firstByKey<LONG>(totals, [](IPerfCounter *counter) { return idOf(counter, RV_HERE); });

    // Below the trace level that records each step, the instances are read
    // directly where nobody can tell (see sumDirectly): from the list as it
    // stands, which nothing changes while nothing calls out, up to the
    // first instance that must be read through its interfaces. From there
    // on the walk goes over a copy of the rest of the list, as it would
    // have from the start.
    const bool totalsOwn = !entryRecordsWanted() && std::all_of(totals.begin(), totals.end(), [](const auto &sum) {
      return dynamic_cast<PerfCounter *>(ObjectRoot::ownNode(sum.get())) != nullptr;
    });
    auto *ownInstances = totalsOwn ? dynamic_cast<PerfInstances *>(ObjectRoot::ownNode(instances_.get())) : nullptr;
    const std::vector<PerfInstance *> direct =
        ownInstances != nullptr ? ownInstances->madeMembers() : std::vector<PerfInstance *>();

    // A tree of thousands of instances does not stay in the processor's
    // caches, so each step asks ahead for what the next ones will read, one
    // link further for each: the instance five ahead, the counter
    // collection four ahead, its member list three ahead, its counters two
    // ahead and their keywords one ahead; `counters` keeps the collections
    // found on the way.
    LONG instanceCount = 0;
    std::vector<PerfCounters *> counters(direct.size());
    const auto ahead = [&](size_t at, size_t by) { return at + by < direct.size(); };
    for (size_t first = 0; first < 3 && first < direct.size(); ++first) counters[first] = ownCounters(*direct[first]);
    size_t at = 0;
    for (; at < direct.size(); ++at) {
      if (ahead(at, 5)) prefetch(direct[at + 5], sizeof(PerfInstance));
      if (ahead(at, 4)) prefetch(direct[at + 4]->counterCollection(), sizeof(void *));
      if (ahead(at, 3) && (counters[at + 3] = ownCounters(*direct[at + 3])) != nullptr)
        counters[at + 3]->prefetchList();
      if (ahead(at, 2) && counters[at + 2] != nullptr) counters[at + 2]->prefetchMembers();
      if (ahead(at, 1) && counters[at + 1] != nullptr)
        counters[at + 1]->visitMade([](const PerfCounter &counter) { __builtin_prefetch(counter.keywordText()); });
      // Only the instance found above is the total; another of the same name sums like any other.
      if (static_cast<const IPerfInstance *>(direct[at]) == total.get()) continue;
      if (!sumDirectly(counters[at], totalsById, RV_HERE)) break;
      ++instanceCount;
    }
    std::vector<ComPtr<IPerfInstance>> rest;
    if (ownInstances == nullptr || direct.empty())
      rest = membersOf<IPerfInstance>(instances_.get(), RV_HERE);
    else
      for (size_t next = at; next < direct.size(); ++next) rest.emplace_back(direct[next]);

    for (const ComPtr<IPerfInstance> &instance : rest) {
      if (instance.get() == total.get()) continue;
      ++instanceCount;
      if (totalsOwn) {
        const auto *own = dynamic_cast<PerfInstance *>(ObjectRoot::ownNode(instance.get()));
        if (own != nullptr && sumDirectly(ownCounters(*own), totalsById, RV_HERE)) continue;
      }
      ComPtr<IPerfCounters> counters;
      raiseIfFailed(RV_HERE, instance->get_PerfCounters(counters.put()));
      for (const ComPtr<IPerfCounter> &counter : membersOf<IPerfCounter>(counters.get(), RV_HERE)) {
        if (isText(keywordOf(counter.get(), RV_HERE).get(), NotTotalled)) continue;
        // A counter whose ID the _Total instance lacks (an instance whose
        // counters were changed after it was made) has nowhere to go and is
        // left out; the other counters still add up.
        const LONG id = idOf(counter.get(), RV_HERE);
        if (totalsById.find(id) == totalsById.end()) continue;
        Variant value;
        raiseIfFailed(RV_HERE, counter->get_Value(value.put()));
        sumInto(totalsById, id, *value.get(), RV_HERE);
      }
    }

    for (const ComPtr<IPerfCounter> &sum : totals)
      if (isText(keywordOf(sum.get(), RV_HERE).get(), Averaged)) averageTotal(sum.get(), instanceCount, RV_HERE);
    return S_OK;
  });
}

}  // namespace rv
