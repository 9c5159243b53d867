// Loading the counter definition file: the tree and settings it gives, the
// value rules, the counter type names, and files that do not load.
#include "RegistrationFixture.h"
#include "Trees.h"

#include <string>
#include <utility>

using namespace trees;

namespace {

// The root element with every required setting, around `objects`.
std::string definition(const std::string &objects, const std::string &polling = "600") {
  return "<?xml version=\"1.0\"?>\r\n<PerfData headerFile=\"x.h\" iniFile=\"x.ini\" perfmonDLLFile=\"x.dll\" "
         "deviceName=\"XSvc\" instanceCleannupPolling=\"" +
         polling + "\" Enabled=\"1\">" + objects + "</PerfData>\r\n";
}

std::string object(const std::string &name, const std::string &counters, const std::string &hasInstances = "true",
                   const std::string &timeout = "300") {
  return "<Object name=\"" + name + "\" help=\"Help of " + name + "\" hasInstances=\"" + hasInstances +
         "\" autoCreateInstanceTotal=\"true\" instanceTimeout=\"" + timeout + "\">" + counters + "</Object>";
}

std::string counterOf(const std::string &name, const std::string &type = "PERF_COUNTER_RAWCOUNT",
                      const std::string &scale = "0", const std::string &extra = "") {
  return "<Counter name=\"" + name + "\" help=\"Help of " + name + "\" defaultScale=\"" + scale + "\" counterType=\"" +
         type + "\"" + extra + "/>";
}

class Definition : public RegistrationFixture {
 protected:
  void SetUp() override {
    prepare("definition", "RVDefinition");
    objects = objectsOf(manager.p);
    takeError();
  }
  void TearDown() override { removeAll({}); }

  std::string file() const { return folder + "\\RVCounters.xml"; }
  void write(const std::string &bytes) { writeDefinition(bytes); }
  HRESULT load(const std::string &from) {
    TestBstr path(from);
    return manager->Load(path.value);
  }
  HRESULT load() { return load(folder); }

  // The dump of the manager without its first line (ID, device, polling).
  std::string tree() {
    const std::string all = dump(manager.p);
    return all.substr(all.find('\n') + 1);
  }

  IPerfObjects *objects = nullptr;  // the manager's
};

TEST_F(Definition, LoadsObjectsAndCountersWithEvenIds) {
  write(definition(object("Sessions", counterOf("Active") + counterOf("Requests/sec", "PERF_COUNTER_COUNTER", "-1",
                                                                      " autoCalcInstanceTotal=\"avg\""))));
  ASSERT_EQ(S_OK, load());
  EXPECT_EQ(
      " object 0 Sessions [Help of Sessions] 300 -1 -1\n"
      "  counter 2 Active [Help of Active] EMPTY 0 65536 4 no_calc\n"
      "  counter 4 Requests/sec [Help of Requests/sec] EMPTY -1 272696320 4 avg\n",
      tree());
  EXPECT_EQ("XSvc", readText([&](BSTR *t) { return manager->get_DeviceName(t); }));
  LONG polling = 0;
  manager->get_InstanceCleannupPolling(&polling);
  EXPECT_EQ(600, polling);
}

TEST_F(Definition, ValueRulesAndWhatIsRead) {
  struct Case {
    const char *what;
    std::string objects;
    HRESULT hr;
    std::string tree;
  };
  const Case cases[] = {
      {"IDs run through objects and counters", object("A", counterOf("a1") + counterOf("a2")) + object("B", ""), S_OK,
       " object 0 A [Help of A] 300 -1 -1\n  counter 2 a1 [Help of a1] EMPTY 0 65536 4 no_calc\n"
       "  counter 4 a2 [Help of a2] EMPTY 0 65536 4 no_calc\n object 6 B [Help of B] 300 -1 -1\n"},
      {"only true is true; the time-out reads as atol does",
       object("A", "", "TRUE", "30s") + object("B", "", "1", "abc"), S_OK,
       " object 0 A [Help of A] 30 0 -1\n object 2 B [Help of B] 0 0 -1\n"},
      {"time-outs beyond 32 bits keep their low 32 bits",
       object("A", "", "true", "4294967297") + object("B", "", "true", "2147483648"), S_OK,
       " object 0 A [Help of A] 1 -1 -1\n object 2 B [Help of B] -2147483648 -1 -1\n"},
      {"scales round half to even",
       object("A", counterOf("h", "PERF_COUNTER_RAWCOUNT", "2.5") + counterOf("t", "PERF_COUNTER_RAWCOUNT", " 3.5 ")),
       S_OK,
       " object 0 A [Help of A] 300 -1 -1\n  counter 2 h [Help of h] EMPTY 2 65536 4 no_calc\n"
       "  counter 4 t [Help of t] EMPTY 4 65536 4 no_calc\n"},
      {"type names: text, zero, the top bit, a 64-bit type with size 4",
       object("A", counterOf("x", "PERF_COUNTER_TEXT") + counterOf("z", "PERF_COUNTER_RAWCOUNT_HEX") +
                       counterOf("h", "PERF_COUNTER_HISTOGRAM_TYPE") + counterOf("l", "PERF_COUNTER_LARGE_RAWCOUNT")),
       S_OK,
       " object 0 A [Help of A] 300 -1 -1\n  counter 2 x [Help of x] EMPTY 0 2816 4 no_calc\n"
       "  counter 4 z [Help of z] EMPTY 0 0 4 no_calc\n  counter 6 h [Help of h] EMPTY 0 -2147483648 4 no_calc\n"
       "  counter 8 l [Help of l] EMPTY 0 65792 4 no_calc\n"},
      {"Object elements elsewhere and Counter elements below PerfData are ignored",
       "<Group>" + object("Nested", "") + "</Group>" + counterOf("Loose") + object("A", ""), S_OK,
       " object 0 A [Help of A] 300 -1 -1\n"},
      {"a scale that is no number", object("A", counterOf("a", "PERF_COUNTER_RAWCOUNT", "abc")), DISP_E_TYPEMISMATCH,
       " object 0 A [Help of A] 300 -1 -1\n  counter 2 a [Help of a] EMPTY 0 65536 4 no_calc\n"},
      {"a scale out of range", object("A", counterOf("a", "PERF_COUNTER_RAWCOUNT", "4294967296")), DISP_E_OVERFLOW,
       " object 0 A [Help of A] 300 -1 -1\n  counter 2 a [Help of a] EMPTY 0 65536 4 no_calc\n"},
      // Nothing is rolled back: the object, the counter before and the
      // failing counter with its name stay.
      {"a counter without help", object("A", counterOf("first") + "<Counter name=\"second\" defaultScale=\"0\"/>"),
       E_POINTER,
       " object 0 A [Help of A] 300 -1 -1\n  counter 2 first [Help of first] EMPTY 0 65536 4 no_calc\n"
       "  counter 4 second [] EMPTY 0 65536 4 no_calc\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    write(definition(c.objects));
    EXPECT_EQ(c.hr, load());
    EXPECT_EQ(c.tree, tree());
    takeError();
  }

  // The polling interval reads as the time-outs do.
  for (const auto &[text, polling] :
       {std::pair<const char *, LONG>{"4294967297", 1}, {"2147483648", -2147483647 - 1}}) {
    SCOPED_TRACE(text);
    write(definition(object("A", ""), text));
    EXPECT_EQ(S_OK, load());
    LONG read = 0;
    manager->get_InstanceCleannupPolling(&read);
    EXPECT_EQ(polling, read);
  }

  // Type names match whole and with their case; others of winperf.h are not
  // in the table.
  for (const char *name : {"perf_counter_rawcount", "", " PERF_COUNTER_RAWCOUNT", "PERF_PRECISION_TIMER"}) {
    SCOPED_TRACE(name);
    write(definition(object("A", counterOf("a", name))));
    EXPECT_EQ(E_FAIL, load());
    EXPECT_EQ(std::string("Failed HRESULT [0x80004005] :Invalid Object Type: ") + name, takeError().description);
  }
}

TEST_F(Definition, FilesThatDoNotLoad) {
  write(definition(object("A", counterOf("a"))));
  ASSERT_EQ(S_OK, load());

  // A missing file: no objects are left, the settings read before stay.
  DeleteFileA(file().c_str());
  const HRESULT missing = load();
  EXPECT_LT(missing, 0);
  const std::string described = takeError().description;
  EXPECT_NE(std::string::npos, described.find("] :Invalid xml file: " + file() + ". ")) << described;
  EXPECT_EQ(0, countOf(objects));
  EXPECT_EQ("XSvc", readText([&](BSTR *t) { return manager->get_DeviceName(t); }));
#ifndef _WIN32
  // Wine's msxml3 reports every failed load as E_FAIL.
  EXPECT_EQ(static_cast<HRESULT>(0x800C0006), missing);
#endif

  // A file name instead of a folder names the file below it.
  const std::string named = folder + "\\my.xml";
  EXPECT_LT(load(named), 0);
  EXPECT_NE(std::string::npos, takeError().description.find(named + "\\RVCounters.xml. "));

  // Without a folder, the module's own.
  const std::string module = modulePath();
  EXPECT_LT(manager->Load(nullptr), 0);
  EXPECT_NE(std::string::npos,
            takeError().description.find(module.substr(0, module.find_last_of('\\')) + "\\RVCounters.xml. "));

  // No PerfData, or a setting missing: E_POINTER, the settings before it read.
  write("<Other/>");
  EXPECT_EQ(E_POINTER, load());
  write("<PerfData headerFile=\"n.h\" iniFile=\"n.ini\" perfmonDLLFile=\"n.dll\" deviceName=\"New\"/>");
  EXPECT_EQ(E_POINTER, load());
  EXPECT_EQ("New", readText([&](BSTR *t) { return manager->get_DeviceName(t); }));
}

}  // namespace
