// The manager: its settings, the time-out sweep over all objects and the
// synchronisation of one manager's values into another's. (Its totals are
// those of the whole-tree blob test.)
#include "ComponentFixture.h"
#include "Trees.h"

#include <limits>
#include <string>
#include <tuple>
#include <vector>

using namespace trees;

namespace {

class Manager : public ComponentFixture {
 protected:
  void SetUp() override {
    create(CLSID_PerfMgr, IID_IPerfMgr, manager);
    objects = objectsOf(manager.p);
    takeError();
  }

  // Local time to the second, as the sweep reads it.
  static DATE now() {
    SYSTEMTIME time;
    GetLocalTime(&time);
    time.wMilliseconds = 0;
    DATE value = 0;
    SystemTimeToVariantTime(&time, &value);
    return value;
  }

  static std::vector<std::string> namesOf(IPerfObject *object) {
    IPerfInstances *instances = instancesOf(object);
    std::vector<std::string> names;
    for (LONG i = 1; i <= countOf(instances); ++i) {
      Ref<IPerfInstance> in;
      instances->get_Item(i, in.put());
      names.push_back(readText([&](BSTR *t) { return in->get_Name(t); }));
    }
    return names;
  }

  Ref<IPerfMgr> manager;
  IPerfObjects *objects = nullptr;  // the manager's
};

// The folder of the module as it was loaded, without a closing backslash.
TEST_F(Manager, InstallLocationIsTheModulesFolder) {
  const std::string module = modulePath();
  const std::string folder = module.substr(0, module.find_last_of('\\'));
  ASSERT_NE(module, folder) << module;
  EXPECT_EQ(folder, readText([&](BSTR *t) { return manager->get_InstallLocation(t); }));
}

TEST_F(Manager, PerformanceSettingReadsEnabledFromTheDefinitionFile) {
  char folder[MAX_PATH] = {}, previous[MAX_PATH] = {};
  ASSERT_NE(0u, GetTempPathA(MAX_PATH, folder));
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder));
  const std::string path = std::string(folder) + "RVCounters.xml";

  struct Case {
    const char *root;
    HRESULT hr;
    RVPerformanceSetting setting;
  };
  const Case cases[] = {
      {"<PerfData Enabled=\"1\"/>", S_OK, pmEnabled},
      {"<PerfData Enabled=\"true\"/>", S_OK, pmDisabled},
      {"<PerfData Enabled=\" 1\"/>", S_OK, pmDisabled},
      {"<PerfData/>", E_POINTER, pmDisabled},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.root);
    ASSERT_TRUE(writeFileText(path, std::string("<?xml version=\"1.0\"?>\r\n") + c.root));
    RVPerformanceSetting setting = pmUnknown;
    EXPECT_EQ(c.hr, manager->get_PerformanceSetting(&setting));
    EXPECT_EQ(c.setting, setting);
    const ErrorSeen seen = takeError();
    // The system's text for E_POINTER; Wine has none and says so.
    if (c.hr == E_POINTER) {
      EXPECT_TRUE(seen.description == "Invalid pointer" || seen.description == "Unknown error 0x80004003")
          << seen.description;
    }
  }
  DeleteFileA(path.c_str());
  SetCurrentDirectoryA(previous);
}

TEST_F(Manager, SweepRemovesStaleInstancesOfObjectsThatKeepATotal) {
  const DATE today = now();
  auto ago = [&](double seconds) { return today - seconds / 86400.0; };
  IPerfObject *swept = addObject(objects, 2, "Swept", true, true, 60);
  IPerfObject *untotalled = addObject(objects, 4, "Untotalled", true, false, 60);
  IPerfObject *forever = addObject(objects, 6, "Forever", true, true, -1);
  IPerfObject *immediate = addObject(objects, 8, "Immediate", true, true, 0);

  struct Stamped {
    const char *name;
    DATE stamp;
  };
  // A stamp 2^32 + 90 seconds back wraps to 90 elapsed seconds. Elapsed
  // seconds are truncated, so 60.5 s back is exactly the 60 s limit and
  // half a second back is 0 s: both are timed out, each for its object.
  const std::vector<Stamped> stamps = {
      {"_Total", ago(3600)},
      {"fresh", ago(30)},
      {"stale", ago(90)},
      {"_total", ago(90)},
      {"later", ago(-3600)},
      {"never stamped", 0.0},
      {"wrapped", ago(4294967296.0 + 90)},
      {"not a number", std::numeric_limits<double>::quiet_NaN()},
      {"far away", -1e300},
      {"recent", ago(1)},
      {"at the limit", ago(60.5)},
      {"this second", ago(0.5)},
  };
  // Added, not created by name, so that "_total" stands beside "_Total".
  auto stampAll = [](IPerfObject *object, const std::vector<Stamped> &list) {
    for (const Stamped &s : list) {
      Ref<IPerfInstance> added;
      ASSERT_EQ(S_OK, instancesOf(object)->AddNew(0, added.put()));
      TestBstr name(s.name);
      added->put_Name(name.value);
      added->put_TimeStamp(s.stamp);
    }
  };
  for (IPerfObject *object : {swept, untotalled, forever, immediate}) stampAll(object, stamps);

  ASSERT_EQ(S_OK, manager->RemoveTimedOutInstances());
  const std::vector<std::string> all = {"_Total",   "fresh",         "stale",        "_total",
                                        "later",    "never stamped", "wrapped",      "not a number",
                                        "far away", "recent",        "at the limit", "this second"};
  EXPECT_EQ((std::vector<std::string>{"_Total", "fresh", "later", "never stamped", "not a number", "far away", "recent",
                                      "this second"}),
            namesOf(swept));
  EXPECT_EQ(all, namesOf(untotalled));
  EXPECT_EQ(all, namesOf(forever));
  // With a time-out of 0 only a stamp in the future survives.
  EXPECT_EQ((std::vector<std::string>{"_Total", "later", "never stamped", "not a number", "far away"}),
            namesOf(immediate));

  // Two stale neighbours go, and the fresh instance after them moves up to
  // position 2.
  IPerfObject *neighbours = addObject(objects, 10, "Neighbours", true, true, 60);
  stampAll(neighbours, {{"one", ago(5)}, {"two", ago(100)}, {"three", ago(200)}, {"four", ago(5)}});
  ASSERT_EQ(S_OK, manager->RemoveTimedOutInstances());
  EXPECT_EQ((std::vector<std::string>{"one", "four"}), namesOf(neighbours));
}

TEST_F(Manager, SynchronisationCopiesValuesOnly) {
  // Both managers: object 2 without instances, object 4 with instances.
  auto build = [](IPerfObjects *into, bool withSixth) {
    IPerfObject *plain = addObject(into, 2, "Plain", false, false);
    addCounter(countersOf(plain), 1, "First");
    addCounter(countersOf(plain), 3, "Second");
    IPerfObject *withInstances = addObject(into, 4, "Sessions", true, true);
    addCounter(countersOf(withInstances), 1, "Open");
    IPerfObject *sixth = withSixth ? addObject(into, 6, "OnlyHere", false, false) : nullptr;
    return std::make_tuple(plain, withInstances, sixth);
  };
  auto [plain, sessions, onlyHere] = build(objects, true);
  instance(sessions, "alpha");
  instance(sessions, "beta")->put_TimeStamp(1.5);
  instance(sessions, "_Total");
  addCounter(countersOf(onlyHere), 1, "Own", "no_calc", "I4:77");
  setValue(counter(plain, 1), "I4:11");
  setValue(counter(sessions, 1), "I4:12");
  setValue(counter(instance(sessions, "beta"), 1), "I4:13");

  Ref<IPerfMgr> source;
  create(CLSID_PerfMgr, IID_IPerfMgr, source);
  auto [sourcePlain, sourceSessions, none] = build(objectsOf(source.p), false);
  setValue(counter(sourcePlain, 1), "R8:2.5");
  TestBstr renamed("Renamed");
  counter(sourcePlain, 1)->put_Name(renamed.value);
  instance(sourceSessions, "BETA")->put_TimeStamp(9.0);
  setValue(counter(sourceSessions, 1), "I4:100");
  setValue(counter(instance(sourceSessions, "ALPHA"), 1), "I4:5");
  setValue(counter(instance(sourceSessions, "gamma"), 1), "I4:6");
  setValue(counter(instance(sourceSessions, "_total"), 1), "I4:11");

  ASSERT_EQ(S_OK, manager->SyncronizeFrom(source.p));
  EXPECT_EQ("R8:2.5", valueOf(plain, 1));
  EXPECT_EQ("EMPTY", valueOf(plain, 3));
  EXPECT_EQ("EMPTY", valueOf(sessions, 1)) << "the template of an object with instances is not synchronised";
  EXPECT_EQ("I4:5", valueOf(instance(sessions, "alpha"), 1));
  EXPECT_EQ("EMPTY", valueOf(instance(sessions, "beta"), 1)) << "an empty source value is not copied";
  EXPECT_EQ("I4:11", valueOf(instance(sessions, "_Total"), 1));
  EXPECT_EQ("EMPTY", valueOf(onlyHere, 1)) << "an object the source lacks stays reset";
  EXPECT_EQ((std::vector<std::string>{"alpha", "beta", "_Total"}), namesOf(sessions));
  DATE stamp = 0;
  instance(sessions, "beta")->get_TimeStamp(&stamp);
  EXPECT_EQ(1.5, stamp);
  EXPECT_EQ("First", readText([&](BSTR *t) { return counter(plain, 1)->get_Name(t); }));

  // From itself: the reset empties the source as well, so nothing is left.
  ASSERT_EQ(S_OK, manager->SyncronizeFrom(manager.p));
  EXPECT_EQ("EMPTY", valueOf(plain, 1));
  EXPECT_EQ("EMPTY", valueOf(instance(sessions, "alpha"), 1));

  // Without a source the call fails after the reset.
  setValue(counter(plain, 1), "I4:1");
  EXPECT_EQ(E_INVALIDARG, manager->SyncronizeFrom(nullptr));
  EXPECT_EQ("EMPTY", valueOf(plain, 1));
  // Nor with an object of another class, as a late-bound caller can pass.
  EXPECT_EQ(E_INVALIDARG, manager->SyncronizeFrom(reinterpret_cast<IPerfMgr *>(plain)));
  EXPECT_EQ("Cannot perform this operation because the object being passed in is not valid.", takeError().description);
}

}  // namespace
