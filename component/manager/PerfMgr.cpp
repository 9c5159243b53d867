#include "PerfMgr.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "rvCounterTypes.h"
#include "TextFile.h"
#include "log/DirectReport.h"
#include "log/Frames.h"
#include "model/Members.h"
#include "model/PerfCounters.h"
#include "model/PerfInstances.h"
#include "model/TRVPCollectionImpl.h"
#include "Module.h"
#include "server/Text.h"
#include "xml/DomAccess.h"
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

// Sweeps an object's instances in one pass, where nobody can tell it from
// the walk that removes them one by one by position: the collection is this
// component's own and made every member (so reading them calls out to
// nobody), and the trace does not record each Remove. The same instances go,
// the others keep their order, and the removed ones are let go in list order
// once the list is settled. false, with nothing removed, where the walk must
// do it.
bool sweptInOnePass(IPerfInstances *instances, DATE now, LONG timeout) {
  if (entryRecordsWanted()) return false;
  auto *own = dynamic_cast<PerfInstances *>(ObjectRoot::ownNode(instances));
  return own != nullptr && own->removeMadeWhere([&](const PerfInstance &instance) {
    return timedOut(now, instance.timeStampValue(), timeout) && !isText(instance.nameText(), OLESTR("_Total"));
  });
}

// The values of `source`'s counters copied into `destination`'s in place,
// matched by ID, the first source counter of each ID answering, as the
// framed SyncCounters matches them: where the trace does not record each
// step and both collections are this component's own and made every member,
// so that nothing calls out and no reference is counted per counter. false
// where the framed walk must do it: for other collections, and for a value
// the destination refuses, which that walk then copies again and reports as
// it does.
bool syncedInPlace(IPerfCounters *destination, IPerfCounters *source) {
  if (entryRecordsWanted()) return false;
  auto *to = dynamic_cast<PerfCounters *>(ObjectRoot::ownNode(destination));
  auto *from = dynamic_cast<PerfCounters *>(ObjectRoot::ownNode(source));
  if (to == nullptr || from == nullptr || !from->madeAll()) return false;
  const std::vector<PerfCounter *> sources = from->madeMembers();
  // A few counters are scanned; many are looked up.
  constexpr size_t Scanned = 16;
  std::unordered_map<LONG, const PerfCounter *> byId;
  if (sources.size() > Scanned)
    for (const PerfCounter *counter : sources) byId.emplace(counter->idValue(), counter);
  const auto match = [&](LONG id) -> const PerfCounter * {
    if (sources.size() > Scanned) {
      const auto found = byId.find(id);
      return found == byId.end() ? nullptr : found->second;
    }
    for (const PerfCounter *counter : sources)
      if (counter->idValue() == id) return counter;
    return nullptr;
  };
  bool refused = false;
  const bool made = to->visitMade([&](PerfCounter &counter) {
    const PerfCounter *value = refused ? nullptr : match(counter.idValue());
    if (value == nullptr || value == &counter || V_VT(&value->valueRef()) == VT_EMPTY) return;
    refused = FAILED(counter.PerfCounter::put_Value(value->valueRef()));
  });
  return made && !refused;
}

// A whole attribute text compared with "true", letter case counted.
VARIANT_BOOL flagOf(const Bstr &text) { return isText(text.get(), OLESTR("true")) ? VARIANT_TRUE : VARIANT_FALSE; }

// A number read the way atol reads one: blanks skipped, a sign, the digits up
// to the first other character; no digits read as 0, and nothing fails. The
// digits are gathered in 64 bits and the low 32 bits kept, so a number out
// of range wraps instead of being clamped.
LONG lenientIntegerOf(const Bstr &text) {
  const std::string narrow = toAnsi(text.get());
  size_t at = narrow.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return 0;
  const bool negative = narrow[at] == '-';
  if (narrow[at] == '-' || narrow[at] == '+') ++at;
  ULONGLONG value = 0;
  for (; at < narrow.size() && narrow[at] >= '0' && narrow[at] <= '9'; ++at) value = value * 10 + (narrow[at] - '0');
  return static_cast<LONG>(static_cast<ULONG>(negative ? 0 - value : value));
}

// A number as automation converts a text to a 32-bit integer in the user's
// locale: blanks allowed, fractions rounded half to even, range checked. A
// text that does not convert is raised with the conversion's code.
LONG strictIntegerOf(Bstr text, const Site &site) {
  Variant from, to;
  V_VT(from.get()) = VT_BSTR;
  V_BSTR(from.get()) = text.detach();
  const HRESULT hr = VariantChangeTypeEx(to.get(), from.get(), LOCALE_USER_DEFAULT, 0, VT_I4);
  if (FAILED(hr)) raiseResult(site, hr);
  return V_I4(to.get());
}

// The debug lines that follow reading an element's name and help.
struct NameAndHelpLines {
  const OLECHAR *name;
  const OLECHAR *help;
};
constexpr NameAndHelpLines ObjectLines = {OLESTR("PerfMgr %ld: Load: DOM get object name successful\n"),
                                          OLESTR("PerfMgr %ld: Load: DOM get object help successful\n")};
constexpr NameAndHelpLines CounterLines = {OLESTR("PerfMgr %ld: Load: DOM get counter name successful\n"),
                                           OLESTR("PerfMgr %ld: Load: DOM get counter help successful\n")};

Text decimal(LONG value) { return toWide(format("%ld", static_cast<long>(value))); }

// A registry key created or opened for the length of a scope.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey &) = delete;
  RegistryKey &operator=(const RegistryKey &) = delete;
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY *put() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Runs a command line with its window hidden, as WinExec starts one, and
// waits for it to end, so that the next command starts after it. The result
// is WinExec's: above 31 when the program started, otherwise the reason it
// did not.
UINT runToCompletion(const std::string &command) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  std::string line = command;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();
    return error > 31 ? ERROR_BAD_FORMAT : static_cast<UINT>(error);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 33;
}

// An instance's name as the instance collection compares it: in capitals.
Text instanceKey(IPerfInstance *instance, const Site &site) {
  Bstr name;
  raiseIfFailed(site, instance->get_Name(name.put()));
  return foldedName(name.get()).value_or(Text());
}

}  // namespace

// The debug output of one Load. Its lines differ from one another only in
// the calling thread's identifier, which stays the same for the whole call,
// so a line without a text of its own is formatted the first time it is
// written and written as it stands after that.
class LoadProgress {
 public:
  // `pattern` with the calling thread's identifier for %ld and `text` for
  // %s, within 1024 units.
  void line(const OLECHAR *pattern, const Text &text) { OutputDebugStringW(formatted(pattern, text).c_str()); }

  void line(const OLECHAR *pattern) {
    auto known = std::find_if(lines_.begin(), lines_.end(), [&](const auto &line) { return line.first == pattern; });
    if (known == lines_.end()) known = lines_.emplace(known, pattern, formatted(pattern, Text()));
    OutputDebugStringW(known->second.c_str());
  }

 private:
  static Text formatted(const OLECHAR *pattern, const Text &text) {
    OLECHAR buffer[1024];
    wsprintfW(buffer, pattern, static_cast<LONG>(GetCurrentThreadId()), text.c_str());
    return Text(buffer);
  }

  std::vector<std::pair<const OLECHAR *, Text>> lines_;
};

// The attribute names of the definition file's elements as the BSTRs that
// the DOM takes, made once per Load instead of once per lookup.
struct DefinitionNames {
  const Bstr name{OLESTR("name")};
  const Bstr help{OLESTR("help")};
  const Bstr hasInstances{OLESTR("hasInstances")};
  const Bstr autoCreateInstanceTotal{OLESTR("autoCreateInstanceTotal")};
  const Bstr instanceTimeout{OLESTR("instanceTimeout")};
  const Bstr defaultScale{OLESTR("defaultScale")};
  const Bstr counterType{OLESTR("counterType")};
  const Bstr autoCalcInstanceTotal{OLESTR("autoCalcInstanceTotal")};
};

namespace {

// Name and Help of a new object or counter from its element's attributes,
// each with its debug line.
template <typename Node>
void loadNameAndHelp(Node *node, const AttributesOf &attributes, const DefinitionNames &names,
                     const NameAndHelpLines &lines, LoadProgress &progress, const Site &site) {
  raiseIfFailed(site, node->put_Name(attributes.required(names.name).get()));
  progress.line(lines.name);
  raiseIfFailed(site, node->put_Help(attributes.required(names.help).get()));
  progress.line(lines.help);
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
    *location = toBstr(path).detach();
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

// The folder given, or the module's own when none is.
Text PerfMgr::folderOr(BSTR given, const Site &site) {
  if (given != nullptr && given[0] != 0) return Text(given);
  Bstr location;
  raiseIfFailed(site, get_InstallLocation(location.put()));
  return textOf(location.get());
}

// Fills the manager from <folder>\RVCounters.xml: the registration settings
// from the PerfData element, one object per Object element below it and one
// counter of that object's template per Counter element below that, with
// the even IDs 0, 2, 4, ... in document order. Every step writes its debug
// line. Nothing is rolled back: what was read before a failure stays.
HRESULT PerfMgr::Load(BSTR folderName) {
  RV_OPERATION("Load");
  return memberFrame(RV_HERE, [&] {
    LoadProgress progress;
    progress.line(OLESTR("PerfMgr %ld: Load: Begin\n"));
    raiseIfFailed(RV_HERE, objects_->RemoveAll());
    const Text folder = folderOr(folderName, RV_HERE);
    progress.line(OLESTR("PerfMgr %ld: Load: Folder=%s\n"), folder);
    const Text path = folder + OLESTR("\\RVCounters.xml");
    progress.line(OLESTR("PerfMgr %ld: Load: FilePath=%s\n"), path);

    ComPtr<IXMLDOMDocument> document;
    HRESULT hr = CoCreateInstance(CLSID_XmlDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, document.putVoid());
    if (FAILED(hr)) raiseFailedResult(RV_HERE, hr, "Failed to create MSXML::DOMDocument");
    progress.line(OLESTR("PerfMgr %ld: Load: DOM creation successful\n"));
    raiseIfFailed(RV_HERE, document->put_async(VARIANT_FALSE));
    if (!loadDocument(document.get(), path, RV_HERE)) {
      progress.line(OLESTR("PerfMgr %ld: Load: DOM load failed\n"));
      // A code that is no failure goes on, to a document without an element.
      raiseParseError(document.get(), OLESTR("Invalid xml file: ") + path, RV_HERE);
    }
    progress.line(OLESTR("PerfMgr %ld: Load: DOM load successful\n"));

    ComPtr<IXMLDOMElement> root;
    checked(document->get_documentElement(root.put()));
    ComPtr<IXMLDOMNode> perfData;
    const Bstr rootPath(OLESTR("/PerfData"));
    hr = present(root)->selectSingleNode(rootPath.get(), perfData.put());
    if (FAILED(hr)) raiseWithErrorInfo(RV_HERE, hr);
    IXMLDOMNode *settings = present(perfData);
    progress.line(OLESTR("PerfMgr %ld: Load: DOM select node PerfData successful\n"));
    const AttributesOf attributes(settings);
    const struct {
      const OLECHAR *attribute;
      TextField &field;
      const OLECHAR *line;
    } texts[] = {
        {OLESTR("headerFile"), headerFile_, OLESTR("PerfMgr %ld: Load: DOM select node headerfile successful\n")},
        {OLESTR("iniFile"), iniFile_, OLESTR("PerfMgr %ld: Load: DOM get INI File Name successful\n")},
        {OLESTR("perfmonDLLFile"), perfmonDLLFile_, OLESTR("PerfMgr %ld: Load: DOM get perfmonDLLFile successful\n")},
        {OLESTR("deviceName"), deviceName_, OLESTR("PerfMgr %ld: Load: DOM get deviceName successful\n")},
    };
    for (const auto &text : texts) {
      raiseIfFailed(RV_HERE, text.field.put(attributes.required(Bstr(text.attribute)).get()));
      progress.line(text.line);
    }
    cleanupPolling_ = lenientIntegerOf(attributes.required(Bstr(OLESTR("instanceCleannupPolling"))));
    progress.line(OLESTR("PerfMgr %ld: Load: DOM get InstanceCleannupPolling successful\n"));

    LONG nextId = 0;
    const DefinitionNames names;
    forEachSelected(settings, OLESTR("Object"),
                    [&](IXMLDOMNode *element) { loadObject(element, nextId, names, progress); });
    return S_OK;
  });
}

void PerfMgr::loadObject(IXMLDOMNode *element, LONG &nextId, const DefinitionNames &names, LoadProgress &progress) {
  RV_OPERATION("Load");
  ComPtr<IPerfObject> object;
  raiseIfFailed(RV_HERE, objects_->AddNew(nextId, object.put()));
  nextId += 2;
  const AttributesOf attributes(element);
  loadNameAndHelp(object.get(), attributes, names, ObjectLines, progress, RV_HERE);
  raiseIfFailed(RV_HERE, object->put_HasInstances(flagOf(attributes.required(names.hasInstances))));
  progress.line(OLESTR("PerfMgr %ld: Load: DOM get object HasInstances successful\n"));
  raiseIfFailed(RV_HERE,
                object->put_AutoCreateInstanceTotal(flagOf(attributes.required(names.autoCreateInstanceTotal))));
  progress.line(OLESTR("PerfMgr %ld: Load: DOM get AutoShowInstanceTotal successful\n"));
  progress.line(OLESTR("PerfMgr %ld: Load: DOM get AutoCalcInstanceTotal successful\n"));
  raiseIfFailed(RV_HERE, object->put_InstanceTimeout(lenientIntegerOf(attributes.required(names.instanceTimeout))));
  progress.line(OLESTR("PerfMgr %ld: Load: DOM get InstanceTimeout successful\n"));
  ComPtr<IPerfCounters> counters;
  raiseIfFailed(RV_HERE, object->get_PerfCounters(counters.put()));

  forEachSelected(element, OLESTR("Counter"), [&](IXMLDOMNode *definition) {
    ComPtr<IPerfCounter> counter;
    raiseIfFailed(RV_HERE, counters->AddNew(nextId, counter.put()));
    nextId += 2;
    const AttributesOf read(definition);
    loadNameAndHelp(counter.get(), read, names, CounterLines, progress, RV_HERE);
    raiseIfFailed(RV_HERE, counter->put_DefaultScale(strictIntegerOf(read.required(names.defaultScale), RV_HERE)));
    progress.line(OLESTR("PerfMgr %ld: Load: DOM get counter DefaultScale successful\n"));
    LONG type = 0;
    raiseIfFailed(RV_HERE, LookupCounterType(read.required(names.counterType).get(), &type));
    raiseIfFailed(RV_HERE, counter->put_CounterType(type));
    progress.line(OLESTR("PerfMgr %ld: Load: DOM get counter CounterType successful\n"));
    // Four bytes whatever the type says, 64-bit types included.
    raiseIfFailed(RV_HERE, counter->put_CounterSize(4));
    const Bstr keyword = read.optional(names.autoCalcInstanceTotal);
    if (keyword.get() != nullptr) raiseIfFailed(RV_HERE, counter->put_AutoCalcInstanceTotal(keyword.get()));
  });
}

HRESULT PerfMgr::LookupCounterType(BSTR name, LONG *type) {
  RV_OPERATION("LookupCounterType");
  return memberFrame(RV_HERE, [&] {
    if (name != nullptr)
      for (const CounterTypeName &row : CounterTypeNames)
        if (isText(name, row.name)) {
          *type = static_cast<LONG>(row.type);
          return S_OK;
        }
    raiseFailedResult(RV_HERE, E_FAIL, "Invalid Object Type: " + toAnsi(name));
  });
}

// Installs the loaded counters: the symbol header and INI files in the
// registration folder (the folder given or the module's own, and one
// backslash more whatever it ends in), the service's Performance values,
// then unlodctr and lodctr. A manager without objects writes nothing.
HRESULT PerfMgr::Register(BSTR folderName) {
  RV_OPERATION("Register");
  return memberFrame(RV_HERE, [&] {
    const Text folder = folderOr(folderName, RV_HERE) + OLESTR("\\");
    LONG count = 0;
    raiseIfFailed(RV_HERE, objects_->get_Count(&count));
    if (count < 1) raiseFailedResult(RV_HERE, E_FAIL, "PerfMgr not loaded. Unable to register.");
    raiseIfFailed(RV_HERE, CreateHeaderFile(folder));
    raiseIfFailed(RV_HERE, CreateIniFile(folder));
    raiseIfFailed(RV_HERE, SetupRegistry(folder));
    raiseIfFailed(RV_HERE, RegisterWithWindows(folder));
    return S_OK;
  });
}

namespace {

// Both registration files list the objects, and after each object the
// counters of its template, in collection order, numbered together from 1.
template <typename OnObject, typename OnCounter>
void walkInFileOrder(IPerfObjects *objects, const Site &site, OnObject &&onObject, OnCounter &&onCounter) {
  LONG sequence = 0;
  for (const ComPtr<IPerfObject> &object : membersOf<IPerfObject>(objects, site)) {
    onObject(object.get(), sequence);
    ComPtr<IPerfCounters> counters;
    raiseIfFailed(site, object->get_PerfCounters(counters.put()));
    for (const ComPtr<IPerfCounter> &counter : membersOf<IPerfCounter>(counters.get(), site))
      onCounter(counter.get(), sequence);
  }
}

}  // namespace

// One line per object and counter: "#define OBJECTn id" or "#define
// COUNTERn id".
HRESULT PerfMgr::CreateHeaderFile(const Text &folder) {
  RV_OPERATION("CreateHeaderFile");
  return memberFrame(RV_HERE, [&] {
    TextFile file;
    if (!file.open((folder + textOf(headerFile_.get())).c_str())) raiseLastSystemError(RV_HERE);
    const auto define = [&](const OLECHAR *symbol) {
      return [&file, symbol](auto *node, LONG &sequence) {
        const LONG id = idOf(node, RV_HERE);
        file << OLESTR("#define ") + Text(symbol) + decimal(++sequence) + OLESTR(" ") + decimal(id) + OLESTR("\n");
      };
    };
    walkInFileOrder(objects_.get(), RV_HERE, define(OLESTR("OBJECT")), define(OLESTR("COUNTER")));
    if (!file.close()) raiseLastSystemError(RV_HERE);
    return S_OK;
  });
}

// The lodctr INI file: the driver and its symbol file, English as the one
// language, then a NAME and a HELP line per object and counter, numbered as
// in the header file. Texts are written as they are, line breaks included.
HRESULT PerfMgr::CreateIniFile(const Text &folder) {
  RV_OPERATION("CreateIniFile");
  return memberFrame(RV_HERE, [&] {
    TextFile file;
    if (!file.open((folder + textOf(iniFile_.get())).c_str())) raiseLastSystemError(RV_HERE);
    file << OLESTR("[info]\n") << OLESTR("drivername=") + textOf(deviceName_.get()) + OLESTR("\n")
         << OLESTR("symbolfile=") + folder + textOf(headerFile_.get()) + OLESTR("\n") << OLESTR("[languages]\n")
         << OLESTR("009=English\n") << OLESTR("[text]\n");
    const auto describe = [&](const OLECHAR *symbol) {
      return [&file, symbol](auto *node, LONG &sequence) {
        Bstr name, help;
        raiseIfFailed(RV_HERE, node->get_Name(name.put()));
        raiseIfFailed(RV_HERE, node->get_Help(help.put()));
        const Text numbered = Text(symbol) + decimal(++sequence);
        file << numbered + OLESTR("_009_NAME=") + textOf(name.get()) + OLESTR("\n")
             << numbered + OLESTR("_009_HELP=") + textOf(help.get()) + OLESTR("\n");
      };
    };
    walkInFileOrder(objects_.get(), RV_HERE, describe(OLESTR("OBJECT")), describe(OLESTR("COUNTER")));
    if (!file.close()) raiseLastSystemError(RV_HERE);
    return S_OK;
  });
}

// The service key and its Performance values, through the 8-bit registry
// calls: the collector library as the definition file names it and its
// three entry points.
HRESULT PerfMgr::SetupRegistry(const Text &) {
  RV_OPERATION("SetupRegistry");
  return memberFrame(RV_HERE, [&] {
    const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + toAnsi(deviceName_.get());
    const std::string performance = service + "\\Performance";
    RegistryKey serviceKey, performanceKey;
    for (const auto &[path, key] : {std::pair{&service, &serviceKey}, std::pair{&performance, &performanceKey}}) {
      const LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, key->put(), nullptr);
      if (status != ERROR_SUCCESS) raiseSystemError(RV_HERE, static_cast<DWORD>(status));
    }
    // The library's name is made before the table, which then holds plain
    // pointers: a table of strings whose making throws part-way (running out
    // of memory) would have its finished strings destroyed twice by GCC 12.
    const std::string library = toAnsi(perfmonDLLFile_.get());
    const std::pair<const char *, const char *> values[] = {{"Close", "CloseNorvalePerfData"},
                                                            {"Collect", "CollectNorvalePerfData"},
                                                            {"Open", "OpenNorvalePerfData"},
                                                            {"Library", library.c_str()}};
    for (const auto &[name, data] : values) {
      const LSTATUS status = RegSetValueExA(performanceKey.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                                            static_cast<DWORD>(std::strlen(data) + 1));
      if (status != ERROR_SUCCESS) raiseSystemError(RV_HERE, static_cast<DWORD>(status));
    }
    return S_OK;
  });
}

// unlodctr, then lodctr from inside the registration folder; each runs to
// its end before the next starts. A command that cannot be started is
// logged, and registration goes on.
HRESULT PerfMgr::RegisterWithWindows(const Text &folder) {
  RV_OPERATION("RegisterWithWindows");
  return memberFrame(RV_HERE, [&] {
    const auto run = [&](const std::string &command) {
      const UINT result = runToCompletion(command);
      if (result <= 31)
        logMessage(RV_HERE, 1, "Failed to execute %s. Return code was %ld", command.c_str(), static_cast<long>(result));
    };
    run("unlodctr \"" + toAnsi(deviceName_.get()) + "\"");
    char saved[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, saved);
    const std::string registrationFolder = toAnsi(folder.c_str(), folder.size());
    SetCurrentDirectoryA(registrationFolder.c_str());
    run("lodctr \"" + registrationFolder + toAnsi(iniFile_.get()) + "\"");
    SetCurrentDirectoryA(saved);
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
      if (keepsTotal != VARIANT_TRUE || sweptInOnePass(instances.get(), now, timeout)) continue;
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
    // A late-bound caller can hand any object here; it is used only through
    // its own answer for IPerfMgr, so a foreign one is refused, not called.
    ComPtr<IPerfMgr> manager;
    if (source == nullptr || FAILED(source->QueryInterface(IID_IPerfMgr, manager.putVoid())) || !manager)
      return reportDirect(iidOf<IPerfMgr>(), 601, iidOf<IPerfMgr>(), E_INVALIDARG);
    ComPtr<IPerfObjects> sourceObjects;
    raiseIfFailed(RV_HERE, manager->get_PerfObjects(sourceObjects.put()));
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
      if (!syncedInPlace(to.get(), values.get())) raiseIfFailed(RV_HERE, SyncCounters(to.get(), values.get()));
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
  // Where the trace does not record each step and both collections are this
  // component's own, the destination's instances are read in place and each
  // looked up by the source's name index, as ItemByName would find it.
  auto *mine = entryRecordsWanted() ? nullptr : dynamic_cast<PerfInstances *>(ObjectRoot::ownNode(to.get()));
  auto *theirs = mine == nullptr ? nullptr : dynamic_cast<PerfInstances *>(ObjectRoot::ownNode(from.get()));
  if (theirs != nullptr && mine->madeAll()) {
    // A name never set reads as an empty one.
    const Bstr empty(OLESTR(""));
    if (empty.get() == nullptr) raiseResult(RV_HERE, E_OUTOFMEMORY);
    for (PerfInstance *instance : mine->madeMembers()) {
      ComPtr<IPerfInstance> found;
      theirs->findByName(instance->nameText() != nullptr ? instance->nameText() : empty.get(), found.put(), RV_HERE);
      if (!found) continue;
      ComPtr<IPerfCounters> values;
      raiseIfFailed(RV_HERE, found->get_PerfCounters(values.put()));
      IPerfCounters *counters = instance->counterCollection();
      if (!syncedInPlace(counters, values.get())) raiseIfFailed(RV_HERE, SyncCounters(counters, values.get()));
    }
    return;
  }
  const auto sources = firstByKey<Text>(membersOf<IPerfInstance>(from.get(), RV_HERE),
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
