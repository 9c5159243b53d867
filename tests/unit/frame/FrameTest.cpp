// The error frames, the raise forms and the log operation, with doubles of
// the outside components standing in for the error log component, the trace
// settings component and the viewer.
#include "DoublesFixture.h"

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "log/DirectReport.h"
#include "log/Frames.h"
#include "log/MessageText.h"
#include "log/logHelperImpl.h"
#include "model/PerfCounters.h"

RV_SOURCE_UNIT("Tests\\Frame\\FrameTest")

using namespace rv;

namespace {

int raiseLine = 0;
int frameLine = 0;

std::string systemText(DWORD code, DWORD language) {
  char *buffer = nullptr;
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                     nullptr, code, language, reinterpret_cast<char *>(&buffer), 0, nullptr);
  std::string text = length ? std::string(buffer, length) : std::string();
  if (buffer) LocalFree(buffer);
  return text;
}

void raiser() {
  RV_OPERATION("Raiser");
  // The line of the raise that follows.
  raiseLine = __LINE__ + 1;
  raiseMessage(RV_HERE, "x");
}

HRESULT failingMember() {
  RV_OPERATION("FailingMember");
  frameLine = __LINE__ + 1;
  return memberFrame(RV_HERE, [] {
    raiser();
    return S_OK;
  });
}

HRESULT generalMember() {
  RV_OPERATION("GeneralMember");
  frameLine = __LINE__ + 1;
  return memberFrame(RV_HERE, []() -> HRESULT { throw 42; });
}

HRESULT automationMember(HRESULT code) {
  RV_OPERATION("AutomationMember");
  return memberFrame(RV_HERE, [&]() -> HRESULT { throw ComError(code); });
}

HRESULT quietMember() {
  RV_OPERATION("QuietMember");
  return memberFrame(RV_HERE, [] { return S_OK; });
}

void internalOperation() {
  RV_OPERATION("InternalOperation");
  passThrough(RV_HERE, [] { raiser(); });
}

HRESULT memberOverInternal() {
  RV_OPERATION("MemberOverInternal");
  return memberFrame(RV_HERE, [] {
    internalOperation();
    return S_OK;
  });
}

// The error a raise form raised.
Err raised(const std::function<void()> &raise) {
  try {
    raise();
  } catch (const Err &e) {
    return e;
  }
  ADD_FAILURE() << "nothing was raised";
  return Err();
}

std::string logFilePath() {
  char folder[MAX_PATH + 1] = {};
  return std::string(folder, GetTempPathA(MAX_PATH + 1, folder)) + "NorvaleErrorLog.csv";
}

// UTF-16LE bytes of an ASCII text.
std::string utf16(const std::string &text) {
  std::string out;
  for (char c : text) out += std::string{c, '\0'};
  return out;
}

class Frame : public DoublesFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles->loaded());
    settings = {};
    settings.errorLogAvailable = TRUE;
    apply();
    takeError();
  }
  void apply() { doubles->reset(settings); }
};

TEST_F(Frame, MessageTexts) {
  EXPECT_EQ("WSAECONNREFUSED", socketErrorText(10061));
  EXPECT_EQ("WINSOCK error 10200", resultCodeText(10200));
  EXPECT_EQ("IDispatch error #1", ComError(static_cast<HRESULT>(0x80040201)).message());
  EXPECT_EQ("Unknown error 0x80040200", ComError(static_cast<HRESULT>(0x80040200)).message());

  // A system text loses its trailing line break.
  std::string expected = systemText(0x80070002, 0);
  ASSERT_FALSE(expected.empty());
  while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r')) expected.pop_back();
  EXPECT_EQ(expected, resultCodeText(static_cast<HRESULT>(0x80070002)));

  RV_OPERATION("MessageTexts");
  Err e = raised([] { raiseResult(RV_HERE, static_cast<HRESULT>(0x80070002)); });
  EXPECT_EQ(static_cast<HRESULT>(0x80070002), e.hr);
  EXPECT_EQ("Failed HRESULT [0x80070002]: " + expected, e.description);
  EXPECT_EQ("MessageTexts", e.procedure);
  e = raised([] { raiseFailedResult(RV_HERE, E_FAIL, "Resource file has already been loaded."); });
  EXPECT_EQ("Failed HRESULT [0x80004005] :Resource file has already been loaded.", e.description);
  e = raised([] { raiseSystemError(RV_HERE, ERROR_FILE_NOT_FOUND); });
  EXPECT_EQ(E_FAIL, e.hr);
  EXPECT_EQ("System error [ 0x00000002, " + systemText(ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT) + " ]", e.description);

  const Err load(E_FAIL, "", "", "default", "PerfMgr", "Load", 7, 1);
  std::string xml = "caller's text";
  load.toXml(xml);
  EXPECT_EQ(
      "<errorInformation><applicationErrorSource>PerfMgr:Load:7</applicationErrorSource><applicationErrorParameters>"
      "</applicationErrorParameters><componentErrorNumber><hex>0x80004005</hex><decimal>-2147467259</decimal>"
      "</componentErrorNumber><componentErrorDescription>not specified</componentErrorDescription></errorInformation>",
      xml);
}

TEST_F(Frame, RaisedMessageGivesTwoRecordsAndErrorInformation) {
  settings.errorInfoSource[0] = 'L';
  settings.errorInfoSource[1] = 'C';
  apply();
  EXPECT_EQ(E_FAIL, failingMember());

  const ErrorSeen seen = takeError();
  ASSERT_TRUE(seen.present);
  EXPECT_TRUE(IsEqualGUID(GUID_NULL, seen.guid));
  EXPECT_EQ("x", seen.description);
  // The source comes back from the error log component.
  EXPECT_EQ("LC", seen.source);

  const std::vector<LogErrorCall> calls = doubles->logErrorCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ("Raiser", narrow(calls[0].procedure));
  EXPECT_EQ(raiseLine, calls[0].line);
  EXPECT_EQ("rvZedaZuvivurAzodav::default::FrameTest::Raiser::" + std::to_string(raiseLine), narrow(calls[0].source));
  EXPECT_EQ("FailingMember", narrow(calls[1].procedure));
  EXPECT_EQ(frameLine, calls[1].line);
  for (const LogErrorCall &call : calls) {
    EXPECT_EQ(E_FAIL, call.hr);
    EXPECT_EQ("x", narrow(call.description));
    EXPECT_EQ("rvZedaZuvivurAzodav", narrow(call.component));
    EXPECT_EQ("default", narrow(call.module));
    EXPECT_EQ("FrameTest", narrow(call.file));
    EXPECT_EQ("8.3.1202.0", narrow(call.version));
    EXPECT_EQ(1, call.setErrorInfo);
    EXPECT_EQ(1, call.raised);
  }

  // A pass-through frame logs once more on the way up.
  apply();
  EXPECT_EQ(E_FAIL, memberOverInternal());
  std::vector<std::string> procedures;
  for (const LogErrorCall &call : doubles->logErrorCalls()) procedures.push_back(narrow(call.procedure));
  EXPECT_EQ((std::vector<std::string>{"Raiser", "InternalOperation", "MemberOverInternal"}), procedures);
}

TEST_F(Frame, OtherExceptions) {
  settings.errorLogAvailable = FALSE;
  apply();
  DeleteFileA(logFilePath().c_str());

  EXPECT_EQ(E_FAIL, generalMember());
  ErrorSeen seen = takeError();
  EXPECT_EQ("at interface process general exception in try block", seen.description);
  EXPECT_EQ("rvZedaZuvivurAzodav::default::Tests\\Frame\\FrameTest::GeneralMember::" + std::to_string(frameLine),
            seen.source);

  // An automation exception without error information carries the system's text.
  EXPECT_EQ(E_POINTER, automationMember(E_POINTER));
  seen = takeError();
  EXPECT_EQ(ComError(E_POINTER).message(), seen.description);
  EXPECT_FALSE(seen.description.empty());
  EXPECT_EQ("", seen.source);
  DeleteFileA(logFilePath().c_str());
}

TEST_F(Frame, SwallowingFrameKeepsTheDescriptionAndClearsErrorInformation) {
  RV_OPERATION("Swallow");
  Err frame;
  EXPECT_FALSE(swallowingFrame(RV_HERE, frame, [] { raiser(); }));
  EXPECT_EQ("x", frame.description);
  EXPECT_EQ(E_FAIL, frame.hr);
  EXPECT_EQ("Swallow", frame.procedure);
  EXPECT_FALSE(takeError().present);
  EXPECT_EQ(2u, doubles->logErrorCalls().size());
  EXPECT_TRUE(swallowingFrame(RV_HERE, frame, [] {}));
}

// What a pass-through or a swallowing frame catches that is not an Err
// becomes one at the frame's own location: an automation exception with its
// code and text, a failed allocation as E_OUTOFMEMORY, anything else as a
// general exception. The swallowing frame logs it and keeps it.
TEST_F(Frame, FramesTurnWhatTheyCatchIntoErrors) {
  RV_OPERATION("Converting");
  struct Case {
    const char *what;
    std::function<void()> body;
    HRESULT hr;
    std::string passed, swallowed;  // the descriptions each frame gives
  };
  const std::string pointer = ComError(E_POINTER).message(), memory = ComError(E_OUTOFMEMORY).message();
  const Case cases[] = {
      {"automation exception", [] { throw ComError(E_POINTER); }, E_POINTER, pointer, pointer},
      {"failed allocation", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, memory, memory},
      {"anything else", [] { throw 42; }, E_FAIL, "general exception in try block", "process general exception"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    apply();
    const int line = __LINE__ + 1;
    const Err passed = raised([&] { passThrough(RV_HERE, c.body); });
    EXPECT_EQ(c.hr, passed.hr);
    EXPECT_EQ(c.passed, passed.description);
    EXPECT_FALSE(passed.description.empty());
    EXPECT_EQ("", passed.source);
    EXPECT_EQ("Converting", passed.procedure);
    EXPECT_EQ("FrameTest", passed.file);
    EXPECT_EQ(line, passed.line);
    EXPECT_EQ(1, passed.level);
    EXPECT_TRUE(doubles->logErrorCalls().empty()) << "the frame above logs it";

    Err frame;
    EXPECT_FALSE(swallowingFrame(RV_HERE, frame, c.body));
    EXPECT_EQ(c.hr, frame.hr);
    EXPECT_EQ(c.swallowed, frame.description);
    EXPECT_EQ("Converting", frame.procedure);
    const std::vector<LogErrorCall> calls = doubles->logErrorCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(c.hr, calls[0].hr);
    EXPECT_EQ("Converting", narrow(calls[0].procedure));
    EXPECT_FALSE(takeError().present);
  }
}

// The model tests see the texts, results and sources the model reports.
TEST_F(Frame, DirectReports) {
  // Result 0 asks for the text's own code; an interface gives no source.
  EXPECT_EQ(static_cast<HRESULT>(0x8004025B), reportDirect(IID_IPerfCounters, 603, IID_IPerfCounters, 0));
  const ErrorSeen seen = takeError();
  EXPECT_EQ("Index out of bounds.", seen.description);
  EXPECT_TRUE(IsEqualGUID(IID_IPerfCounters, seen.guid));
  EXPECT_EQ("", seen.source);
  EXPECT_EQ(E_INVALIDARG, reportDirect(IID_IPerfMgr, 4000, IID_IPerfMgr, E_INVALIDARG));
  EXPECT_EQ("Unknown Error", takeError().description);
  // Direct reports write no record.
  EXPECT_TRUE(doubles->logErrorCalls().empty());
}

TEST_F(Frame, FallbackFileByteForByte) {
  const std::string path = logFilePath();
  DeleteFileA(path.c_str());
  // A trace-level record reaches neither the log component nor the file.
  Err trace(0, "", "Load", "default", "PerfMgr", "Load", 3, 5);
  trace.log(true, true);
  EXPECT_EQ(0, doubles->counts().errorLogCreations);

  settings.errorLogAvailable = FALSE;
  apply();
  Err first(E_FAIL, "", "first\tdescription", "default", "References\\Common\\CTran", "Read", 120, 1);
  first.log(true, true);
  EXPECT_EQ("", first.source);
  Err second(static_cast<HRESULT>(0x80070057), "own source", "second", "default", "PerfMgr", "Load", -1, 1);
  second.log(false, false);
  trace.log(true, true);

  const std::string header =
      "GUID\tStack\tDate Time\tComponent\tVersion Information\tModule\tFile\tProcedure\tLine Number\tSource\t"
      "Error Number\tError Description\tUser Domain\\User Name\tMachine Domain\\Machine Name\t"
      "Previous User Domain\\Previous User Name\tPrevious Machine Domain\\Previous Machine Name\tProcess Id\t"
      "Thread Id\r\n";
  const std::string tail = "\t-\t-\t-\t-\t-\t-\r\n";
  const std::string expected =
      std::string("\xFF\xFE", 2) + utf16(header) +
      utf16(
          "{00000000-0000-0000-0000-000000000000}\t-\t-\trvZedaZuvivurAzodav\t8.3.1202.0\tdefault\tCTran\tRead\t120\t"
          "rvZedaZuvivurAzodav::default::CTran::Read::120\t-2147467259\tfirst\tdescription" +
          tail) +
      utf16(
          "{00000000-0000-0000-0000-000000000000}\t-\t-\trvZedaZuvivurAzodav\t8.3.1202.0\tdefault\tPerfMgr\tLoad\t-1\t"
          "own source\t-2147024809\tsecond" +
          tail);
  EXPECT_EQ(expected, fileText(path));
  DeleteFileA(path.c_str());
  EXPECT_TRUE(doubles->logErrorCalls().empty());
}

// Runs last: once the trace settings have been read, they stay for the life
// of the module.
TEST_F(Frame, TraceSettingsAreReadUntilTheyAnswer) {
  ASSERT_FALSE(traceSettingsRead());
  EXPECT_EQ(S_OK, quietMember());
  const LONG afterFirst = doubles->counts().traceCreations;
  EXPECT_GE(afterFirst, 1);
  EXPECT_EQ(S_OK, quietMember());
  EXPECT_GT(doubles->counts().traceCreations, afterFirst);
  EXPECT_EQ(0, traceLevel());
  EXPECT_TRUE(doubles->traceCalls().empty());

  settings.traceAvailable = TRUE;
  settings.traceLevel = 5;
  settings.viewerSwitch = VARIANT_TRUE;
  settings.show = VARIANT_TRUE;
  apply();
  EXPECT_EQ(S_OK, quietMember());
  EXPECT_TRUE(traceSettingsRead());
  EXPECT_EQ(5, traceLevel());
  EXPECT_EQ(1, doubles->counts().traceLevelReads);

  const std::vector<TraceCall> traces = doubles->traceCalls();
  ASSERT_EQ(1u, traces.size());
  EXPECT_EQ("QuietMember", narrow(traces[0].description));
  EXPECT_EQ(5, traces[0].level);
  EXPECT_EQ("FrameTest", narrow(traces[0].file));
  const std::vector<ViewerCall> shown = doubles->viewerCalls();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(5u, shown[0].argumentCount);
  EXPECT_EQ("QuietMember", narrow(shown[0].message));
  EXPECT_EQ(VT_I4 | VT_BYREF, shown[0].levelType);
  EXPECT_EQ(5, shown[0].level);
  // Level-5 records reach the trace but never the error log component.
  EXPECT_TRUE(doubles->logErrorCalls().empty());

  // The settings are not read again; a failing call traces at level 1.
  settings.traceLevel = 4;
  settings.show = VARIANT_FALSE;
  apply();
  EXPECT_EQ(E_FAIL, failingMember());
  EXPECT_EQ(0, doubles->counts().traceLevelReads);
  std::vector<LONG> levels;
  for (const TraceCall &call : doubles->traceCalls()) levels.push_back(call.level);
  EXPECT_EQ((std::vector<LONG>{5, 1, 1}), levels);
  EXPECT_TRUE(doubles->viewerCalls().empty());

  // A thread that never initialised the object model reaches the log and
  // the trace components too.
  apply();
  HRESULT result = S_OK, activation = S_OK;
  std::thread worker([&] {
    IUnknown *probe = nullptr;
    activation = CoCreateInstance(CLSID_ErrorLog, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void **>(&probe));
    if (probe) probe->Release();
    result = failingMember();
  });
  worker.join();
  EXPECT_EQ(CO_E_NOTINITIALIZED, activation);
  EXPECT_EQ(E_FAIL, result);
  const std::vector<LogErrorCall> calls = doubles->logErrorCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ("Raiser", narrow(calls[0].procedure));
  EXPECT_EQ("FailingMember", narrow(calls[1].procedure));
  const std::vector<TraceCall> fromWorker = doubles->traceCalls();
  // The level read at first (5) stays: the entry, then the two error records.
  ASSERT_EQ(3u, fromWorker.size());
  EXPECT_EQ(5, fromWorker[0].level);
  EXPECT_EQ("Raiser", narrow(fromWorker[1].procedure));
  EXPECT_EQ("FailingMember", narrow(fromWorker[2].procedure));
  EXPECT_EQ(1, fromWorker[2].level);
}

// Where each operation records its entry, AddNew shows its steps: AddNew,
// then Add, then for an ID other than 0 the lookup by ItemByID. A transfer
// buffer records its close once, however it is closed.
TEST_F(Frame, EntryRecordsShowEachStep) {
  ASSERT_EQ(5, traceLevel()) << "the level is read once per process, by the test before this one";
  settings.traceAvailable = TRUE;
  settings.traceLevel = 5;
  auto entries = [&] {
    std::vector<std::string> names;
    for (const TraceCall &call : doubles->traceCalls())
      if (call.level == 5) names.push_back(narrow(call.description));
    return names;
  };
  ComPtr<IPerfCounters> counters;
  ASSERT_EQ(S_OK, ObjectRoot::create<rv::PerfCounters>(nullptr, IID_IPerfCounters, counters.putVoid()));
  ComPtr<IPerfCounter> member;
  apply();
  ASSERT_EQ(S_OK, counters->AddNew(0, member.put()));
  EXPECT_EQ((std::vector<std::string>{"AddNew", "Add"}), entries());
  apply();
  ASSERT_EQ(S_OK, counters->AddNew(5, member.put()));
  EXPECT_EQ((std::vector<std::string>{"AddNew", "Add", "get_ItemByID"}), entries());
  apply();
  EXPECT_EQ(E_FAIL, counters->AddNew(5, member.put()));
  EXPECT_EQ((std::vector<std::string>{"AddNew", "Add", "get_ItemByID"}), entries());
  EXPECT_EQ(2, [&] {
    LONG count = 0;
    counters->get_Count(&count);
    return count;
  }());

  apply();
  VARIANT blob;
  VariantInit(&blob);
  ASSERT_EQ(S_OK, counters->get_MyBlob(btAsBinaryArray, &blob));
  const std::vector<std::string> written = entries();
  VariantClear(&blob);
  const auto opened = std::count(written.begin(), written.end(), "CTran");
  EXPECT_GT(opened, 0) << "the blob is written through transfer buffers at this level";
  EXPECT_EQ(opened, std::count(written.begin(), written.end(), "~CTran"));
}

}  // namespace
