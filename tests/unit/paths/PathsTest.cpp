// Below the trace level that records the entry of every operation, the
// lookup of instances by name goes through an index, the time-out sweep
// removes its instances in one pass and the _Total sums read the counters
// directly; at that level all three take their steps one by one, so that the
// trace shows each of them. The same scenario runs on one
// manager at each level, and what a host can see of it must be the same:
// which instance each lookup answers, the members left and their order, their
// names, IDs, stamps and totals. At the recording level it also checks the
// records written.
//
// The trace settings are read once per process, when they first answer, so
// the scenario runs first without them (the quick paths) and then at level
// 5; this program holds that one test alone.
#include "DoublesFixture.h"
#include "Trees.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace trees;

namespace {

// Years in the past, so that a time-out of a minute is over; a day ahead
// of the clock, so that it never is (much further ahead, the count of
// seconds would wrap around). Both runs of the scenario use the same.
constexpr DATE Stale = 40000.0;
const DATE Ahead = [] {
  SYSTEMTIME time;
  GetLocalTime(&time);
  DATE now = 0.0;
  SystemTimeToVariantTime(&time, &now);
  return static_cast<DATE>(static_cast<LONG>(now) + 1);
}();

// A name as code units, those beyond ASCII spelt in hexadecimal.
std::string label(const OLECHAR *text, UINT length) {
  std::string out;
  for (UINT i = 0; i < length; ++i) {
    if (text[i] >= 0x20 && text[i] < 0x7F) {
      out.push_back(static_cast<char>(text[i]));
    } else {
      char unit[12];
      std::snprintf(unit, sizeof unit, "<%x>", static_cast<unsigned>(text[i]));
      out += unit;
    }
  }
  return out;
}

std::string nameOf(IPerfInstance *instance) {
  BSTR name = nullptr;
  if (instance == nullptr || instance->get_Name(&name) != S_OK) return "<none>";
  std::string out = label(name, SysStringLen(name));
  SysFreeString(name);
  return out;
}

// 1-based, 0 when `instance` is not a member.
LONG positionOf(IPerfInstances *instances, IPerfInstance *instance) {
  for (LONG i = 1; i <= countOf(instances); ++i) {
    Ref<IPerfInstance> member;
    instances->get_Item(i, member.put());
    if (member.p == instance) return i;
  }
  return 0;
}

IPerfInstance *at(IPerfInstances *instances, LONG position) {
  Ref<IPerfInstance> member;
  instances->get_Item(position, member.put());
  return member.p;
}

void rename(IPerfInstance *instance, const std::string &name) {
  TestBstr text(name);
  EXPECT_EQ(S_OK, instance->put_Name(text.value));
}

// Names beyond ASCII: letters the system code page folds to capitals of its
// own, letters it lacks (which all become its default character), and a
// name with a zero inside, compared up to the zero.
const std::vector<std::vector<OLECHAR>> WideNames = {
    {0xC4, 'r', 'g', 'e', 'r'},  // Ärger
    {0xE4, 'R', 'G', 'E', 'R'},  // äRGER
    {0x3A9},                     // Omega
    {0x416},                     // Zhe
    {'?'},
    {0x101, 'b'},  // a with macron, b
    {'A', 'B'},
    {0x160, 'x'},  // S with caron, x
    {0x161, 'X'},
    {0xDF},
    {'Z', 'e', 'r', 'o', 0, 't', 'a', 'i', 'l'},
    {'z', 'E', 'R', 'O'},
};

class Paths : public DoublesFixture {
 protected:
  // The level-5 entry records written since the last call.
  std::vector<std::string> entries() {
    std::vector<std::string> names;
    for (const TraceCall &call : doubles->traceCalls())
      if (call.level == 5) names.push_back(narrow(call.description));
    doubles->reset(settings);
    return names;
  }

  // Runs the scenario and returns what a host sees of it, one line a step.
  // `recording`: the trace records every entry, and the records of a few
  // steps are checked.
  std::vector<std::string> scenario(bool recording) {
    std::vector<std::string> seen;
    Ref<IPerfMgr> manager;
    create(CLSID_PerfMgr, IID_IPerfMgr, manager);
    IPerfObjects *objects = objectsOf(manager.p);
    IPerfObject *sessions = addObject(objects, 2, "Sessions", true, true, 60);
    addCounter(countersOf(sessions), 4, "Requests", "avg", "I4:1");
    addCounter(countersOf(sessions), 6, "Bytes", "no_calc", "R8:0.5");
    addCounter(countersOf(sessions), 8, "Skipped", "no_cacl", "I4:3");
    IPerfObject *untotalled = addObject(objects, 10, "Untotalled", true, false, 60);
    IPerfObject *mixed = addObject(objects, 12, "Mixed", true, true, 60);
    IPerfInstances *instances = instancesOf(sessions);

    // What CreateInstance answers: where the instance stands, and the count.
    auto make = [&](IPerfObject *object, BSTR name, const std::string &what) {
      Ref<IPerfInstance> made;
      const HRESULT hr = object->CreateInstance(name, made.put());
      IPerfInstances *list = instancesOf(object);
      seen.push_back(what + ": " + std::to_string(hr) + " #" + std::to_string(positionOf(list, made.p)) + " of " +
                     std::to_string(countOf(list)) + " " + nameOf(made.p));
      return made.p;
    };
    auto makeNamed = [&](IPerfObject *object, const std::string &name) {
      TestBstr text(name);
      return make(object, text.value, name);
    };
    auto lookup = [&](const std::string &name) {
      TestBstr text(name);
      Ref<IPerfInstance> found;
      const HRESULT hr = instances->get_ItemByName(text.value, found.put());
      seen.push_back("find " + name + ": " + std::to_string(hr) + " " +
                     (found.p ? "#" + std::to_string(positionOf(instances, found.p)) : std::string("none")));
    };

    for (int i = 0; i < 40; ++i) makeNamed(sessions, "Worker " + std::to_string(i));
    for (const std::vector<OLECHAR> &name : WideNames) {
      TestBstr text(name.data(), static_cast<UINT>(name.size()));
      make(sessions, text.value, label(name.data(), static_cast<UINT>(name.size())));
    }
    // Found in any letter case; not found without a name.
    EXPECT_EQ(positionOf(instances, makeNamed(sessions, "WORKER 7")), 8);
    makeNamed(sessions, "worker 39");
    Ref<IPerfInstance> none;
    EXPECT_EQ(S_OK, instances->get_ItemByName(nullptr, none.put()));
    EXPECT_EQ(nullptr, none.p);
    if (recording) {
      entries();
      Ref<IPerfInstance> again;
      EXPECT_EQ(S_OK, sessions->CreateInstance(TestBstr("Worker 3").value, again.put()));
      EXPECT_EQ((std::vector<std::string>{"CreateInstance", "get_ItemByID"}), entries())
          << "an existing name: the lookup and nothing else";
    }

    // Renamed through its own interface, by a blob and by a copy.
    rename(at(instances, 5), "Renamed");
    makeNamed(sessions, "RENAMED");
    makeNamed(sessions, "Worker 4");
    VARIANT blob;
    VariantInit(&blob);
    EXPECT_EQ(S_OK, at(instances, 7)->get_MyBlob(btAsBinaryArray, &blob));
    EXPECT_EQ(S_OK, at(instances, 9)->put_MyBlob(btAsBinaryArray, blob));
    VariantClear(&blob);
    lookup("worker 6");
    lookup("worker 8");
    rename(at(instances, 7), "Moved");
    lookup("worker 6");
    EXPECT_EQ(S_OK, at(instances, 11)->CopyFrom(at(instances, 12)));
    lookup("Worker 11");
    lookup("Worker 10");

    // Two members of one name: the first answers, and once it has gone the
    // other; a member removed by its ID is not found.
    for (const char *twin : {"Twin", "TWIN"}) {
      Ref<IPerfInstance> added;
      EXPECT_EQ(S_OK, instances->AddNew(0, added.put()));
      rename(added.p, twin);
    }
    lookup("twin");
    Ref<IPerfInstance> first;
    instances->get_ItemByName(TestBstr("twin").value, first.put());
    EXPECT_EQ(S_OK, instances->Remove(positionOf(instances, first.p)));
    lookup("twin");
    Ref<IPerfInstance> byId;
    EXPECT_EQ(S_OK, instances->AddNew(77, byId.put()));
    rename(byId.p, "ById");
    lookup("BYID");
    EXPECT_EQ(S_OK, instances->RemoveByID(77));
    lookup("BYID");

    // A member made elsewhere can change its name unseen: it is still found
    // by the name it has now.
    IPerfInstance *guest = makeNamed(untotalled, "Guest");
    EXPECT_EQ(S_OK, instances->Add(guest));
    lookup("guest");
    rename(guest, "Visitor");
    lookup("VISITOR");
    lookup("guest");
    EXPECT_EQ(S_OK, instances->Remove(positionOf(instances, guest)));
    lookup("visitor");

    // Stamps for the sweep: stale, ahead and never set, in a pattern that
    // puts stale members next to each other; an instance named _total in
    // other letters is swept like any other, _Total itself never.
    for (LONG i = 1; i <= countOf(instances); ++i)
      at(instances, i)->put_TimeStamp(i % 3 == 0 || i % 7 == 0 ? Stale : i % 5 == 0 ? 0.0 : Ahead);
    for (int i = 0; i < 6; ++i) makeNamed(untotalled, "Idle " + std::to_string(i))->put_TimeStamp(Stale);
    // An object holding a member it did not make.
    for (int i = 0; i < 20; ++i) makeNamed(mixed, "Mixed " + std::to_string(i))->put_TimeStamp(i % 2 ? Stale : Ahead);
    EXPECT_EQ(S_OK, instancesOf(mixed)->Add(makeNamed(untotalled, "Lodger")));
    at(instancesOf(mixed), countOf(instancesOf(mixed)))->put_TimeStamp(Stale);
    EXPECT_EQ(S_OK, manager->CreateTotalInstances());
    // Found before _Total, so taken for it until it goes.
    rename(at(instances, 21), "_total");
    makeNamed(sessions, "_Total")->put_TimeStamp(Stale);
    // An instance holding a counter made elsewhere is summed through its
    // interfaces, and so are those after it.
    EXPECT_EQ(S_OK, countersOf(at(instances, 10))->RemoveByID(6));
    EXPECT_EQ(S_OK, countersOf(at(instances, 10))->Add(addCounter(countersOf(untotalled), 6, "Lent", "no_calc")));
    // Members added by AddNew have no counters.
    for (LONG i = 1; i <= countOf(instances); ++i) {
      if (IPerfCounter *requests = counter(at(instances, i), 4)) setValue(requests, "I4:" + std::to_string(i));
      if (IPerfCounter *bytes = counter(at(instances, i), 6)) setValue(bytes, "R8:" + std::to_string(i) + ".25");
    }
    EXPECT_EQ(S_OK, manager->CalcTotalInstances());

    const LONG before = countOf(instances) + countOf(instancesOf(mixed));
    const LONG untotalledBefore = countOf(instancesOf(untotalled));
    entries();
    EXPECT_EQ(S_OK, manager->RemoveTimedOutInstances());
    const LONG removed = before - countOf(instances) - countOf(instancesOf(mixed));
    EXPECT_GT(removed, 10);
    if (recording) {
      std::vector<std::string> expected{"RemoveTimedOutInstances"};
      expected.insert(expected.end(), static_cast<size_t>(removed), "Remove");
      EXPECT_EQ(expected, entries()) << "each removal records its entry";
    }
    EXPECT_EQ(untotalledBefore, countOf(instancesOf(untotalled))) << "an object without a _Total is not swept";
    Ref<IPerfInstance> total;
    instances->get_ItemByName(TestBstr("_TOTAL").value, total.put());
    EXPECT_EQ("_Total", nameOf(total.p)) << "_total has gone, _Total stays";
    lookup("_TOTAL");
    EXPECT_EQ(S_OK, manager->CalcTotalInstances());
    seen.push_back(dump(manager.p));

    // The name index follows the removals, a read of the whole tree and a
    // copy of the collection.
    for (const char *name : {"Worker 2", "Worker 3", "Worker 38", "_total", "Fresh", "fresh"})
      makeNamed(sessions, name);
    // Again, over an index that holds every member and no name twice.
    lookup("FRESH");
    for (LONG i = 1; i <= countOf(instances); ++i)
      if (i % 4 == 1) at(instances, i)->put_TimeStamp(Stale);
    EXPECT_EQ(S_OK, manager->RemoveTimedOutInstances());
    for (const char *name : {"Worker 1", "Worker 4", "worker 5", "Fresh", "New", "NEW", "Worker 10", "worker 11"})
      lookup(name);
    for (const char *name : {"Worker 1", "Worker 4", "worker 5", "Fresh", "New", "NEW"}) makeNamed(sessions, name);
    VariantInit(&blob);
    EXPECT_EQ(S_OK, manager->get_MyBlob(btAsBinaryArray, &blob));
    rename(at(instances, 2), "Before the read");
    EXPECT_EQ(S_OK, manager->put_MyBlob(btAsBinaryArray, blob));
    VariantClear(&blob);
    // The read may have replaced the objects.
    Ref<IPerfObject> read;
    objects->get_Item(1, read.put());
    sessions = read.p;
    instances = instancesOf(sessions);
    objects->get_Item(3, read.put());
    mixed = read.p;
    for (const char *name : {"before the read", "worker 1", "FRESH", "Worker 3"}) makeNamed(sessions, name);
    EXPECT_EQ(S_OK, instances->CopyFrom(instancesOf(mixed)));
    for (const char *name : {"MIXED 0", "Fresh", "lodger"}) makeNamed(sessions, name);

    // Synchronised from a copy of the tree whose values changed: instances
    // are matched by name (one renamed away, one renamed to another's name
    // in other capitals), counters by ID (one removed in the copy, one lent
    // by another object); everything unmatched ends empty.
    Ref<IPerfMgr> other;
    create(CLSID_PerfMgr, IID_IPerfMgr, other);
    VariantInit(&blob);
    EXPECT_EQ(S_OK, manager->get_MyBlob(btAsBinaryArray, &blob));
    EXPECT_EQ(S_OK, other->put_MyBlob(btAsBinaryArray, blob));
    VariantClear(&blob);
    Ref<IPerfObject> theirSessions;
    objectsOf(other.p)->get_Item(1, theirSessions.put());
    IPerfInstances *theirs = instancesOf(theirSessions.p);
    for (LONG i = 1; i <= countOf(theirs); ++i)
      if (IPerfCounter *requests = counter(at(theirs, i), 4)) setValue(requests, "I4:" + std::to_string(100 + i));
    rename(at(theirs, 2), "Gone away");
    rename(at(theirs, 4), "WORKER 1");
    for (LONG i = 5; i <= countOf(theirs); ++i) {
      if (counter(at(theirs, i), 6) == nullptr) continue;
      EXPECT_EQ(S_OK, countersOf(at(theirs, i))->RemoveByID(6));
      break;
    }
    EXPECT_EQ(S_OK, countersOf(at(instances, 6))->Add(addCounter(countersOf(mixed), 30, "Lent", "no_calc", "I4:9")));
    setValue(counter(at(instances, 6), 30), "I4:10");
    entries();
    EXPECT_EQ(S_OK, manager->SyncronizeFrom(other.p));
    if (recording) {
      const std::vector<std::string> synced = entries();
      EXPECT_EQ("Syncronize", synced.empty() ? "" : synced.front());
      EXPECT_NE(synced.end(), std::find(synced.begin(), synced.end(), "SyncCounters")) << "each pair is framed";
    }
    seen.push_back(dump(manager.p));

    EXPECT_EQ(S_OK, instances->RemoveAll());
    makeNamed(sessions, "Worker 1");
    seen.push_back(dump(manager.p));
    return seen;
  }
};

TEST_F(Paths, QuickAndStepByStepPathsAgree) {
  ASSERT_TRUE(doubles->loaded());
  settings.errorLogAvailable = TRUE;
  doubles->reset(settings);
  const std::vector<std::string> quick = scenario(false);
  EXPECT_TRUE(doubles->traceCalls().empty()) << "no trace settings: nothing is recorded";

  settings.traceAvailable = TRUE;
  settings.traceLevel = 5;
  doubles->reset(settings);
  const std::vector<std::string> stepByStep = scenario(true);
  EXPECT_TRUE(doubles->logErrorCalls().empty());

  ASSERT_EQ(quick.size(), stepByStep.size());
  for (size_t i = 0; i < quick.size(); ++i) EXPECT_EQ(stepByStep[i], quick[i]) << "step " << i;
}

}  // namespace
