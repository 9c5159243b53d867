// Loading the counter definition file: the tree and settings it gives, the
// value rules, the counter type names, and files that do not load.
#include "RegistrationFixture.h"
#include "Trees.h"

#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <platform/debug_output.h>
#endif

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

// The debug output of this process while it lives, one text per call. The
// platform hands it to a listener; Windows hands it to a debugger as an
// exception raised with the text in the system code page, which a vectored
// handler sees first.
class DebugOutput {
 public:
  DebugOutput() {
    texts_ = &received_;
#ifdef _WIN32
    handler_ = AddVectoredExceptionHandler(1, receive);
#else
    PlatformSetDebugOutputListener(receive, nullptr);
#endif
  }
  DebugOutput(const DebugOutput &) = delete;
  DebugOutput &operator=(const DebugOutput &) = delete;
  ~DebugOutput() {
#ifdef _WIN32
    RemoveVectoredExceptionHandler(handler_);
#else
    PlatformSetDebugOutputListener(nullptr, nullptr);
#endif
    texts_ = nullptr;
  }
  // What arrived since the last call.
  std::vector<std::string> take() { return std::exchange(received_, {}); }

 private:
#ifdef _WIN32
  static LONG CALLBACK receive(EXCEPTION_POINTERS *exception) {
    const EXCEPTION_RECORD *record = exception->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2 || texts_ == nullptr)
      return EXCEPTION_CONTINUE_SEARCH;
    texts_->push_back(reinterpret_cast<const char *>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  PVOID handler_ = nullptr;
#else
  static void receive(void *, LPCWSTR text) {
    if (texts_ != nullptr) texts_->push_back(narrow(text));
  }
#endif

  static inline std::vector<std::string> *texts_ = nullptr;
  std::vector<std::string> received_;
};

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

// Every step of Load writes its line, each time Load runs and up to the step
// that fails, whatever lines an earlier Load wrote.
TEST_F(Definition, DebugLinesOfEveryStep) {
  const std::string thread = "PerfMgr " + std::to_string(GetCurrentThreadId()) + ": Load: ";
  std::vector<std::string> start;
  for (const std::string &step :
       {std::string("Begin"), "Folder=" + folder, "FilePath=" + file(), std::string("DOM creation successful")})
    start.push_back(thread + step + "\n");
  std::vector<std::string> loaded = start;
  for (const char *step :
       {"DOM load successful", "DOM select node PerfData successful", "DOM select node headerfile successful",
        "DOM get INI File Name successful", "DOM get perfmonDLLFile successful", "DOM get deviceName successful",
        "DOM get InstanceCleannupPolling successful"})
    loaded.push_back(thread + step + "\n");
  const auto withSteps = [&](std::vector<std::string> lines, std::initializer_list<const char *> steps) {
    for (const char *step : steps) lines.push_back(thread + "DOM get " + step + " successful\n");
    return lines;
  };
  const auto object = {"object name",           "object help",           "object HasInstances",
                       "AutoShowInstanceTotal", "AutoCalcInstanceTotal", "InstanceTimeout"};
  const auto counter = {"counter name", "counter help", "counter DefaultScale", "counter CounterType"};
  std::vector<std::string> whole = withSteps(withSteps(withSteps(loaded, object), counter), counter);
  whole = withSteps(whole, object);

  DebugOutput output;
  write(definition(
      ::object("A", counterOf("a1") + counterOf("a2", "PERF_COUNTER_COUNTER", "1", " autoCalcInstanceTotal=\"avg\"")) +
      ::object("B", "")));
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(S_OK, load());
    EXPECT_EQ(whole, output.take());
  }

  // A counter without help: its name is the last step that succeeds.
  write(definition(::object("A", counterOf("a1") + "<Counter name=\"a2\" defaultScale=\"0\"/>")));
  EXPECT_EQ(E_POINTER, load());
  EXPECT_EQ(withSteps(withSteps(withSteps(loaded, object), counter), {"counter name"}), output.take());
  takeError();

  // A file that is not there: the load fails after the document is made.
  DeleteFileA(file().c_str());
  EXPECT_LT(load(), 0);
  start.push_back(thread + "DOM load failed\n");
  EXPECT_EQ(start, output.take());
  takeError();
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
