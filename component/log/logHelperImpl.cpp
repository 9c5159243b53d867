#include "logHelperImpl.h"

#include <atomic>

#include "Err.h"
#include "Frames.h"
#include "OutsideComponents.h"
#include "Module.h"
#include "server/Text.h"

namespace rv {

std::atomic<bool> entryTraceQuiet{false};

namespace {

// The settings live as long as the module; whichever thread reads them
// first writes them, without a lock.
std::atomic<LONG> settingsTraceLevel{0};
std::atomic<bool> settingsRead{false};
std::atomic<bool> settingsViewerEnabled{false};

// Keeps entryTraceQuiet in step with the settings it is made of.
void noteTraceSettings() {
  entryTraceQuiet.store(settingsRead.load() && settingsTraceLevel.load() < 5, std::memory_order_release);
}

constexpr LCID SystemDefaultLocale = 0x800;
constexpr LCID UserDefaultLocale = 0x400;

// Runs `step` inside a single-threaded apartment set up for the call, for a
// thread that had not initialised the object model.
template <typename Step> bool inTemporaryApartment(Step &&step) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
  step();
  CoUninitialize();
  return true;
}

// The values of one record, as the log component and the file receive them.
struct Record {
  Text source;
  Text description;
  Text component;
  Text module;
  Text file;
  Text procedure;
  LONG line;
  HRESULT hr;
  Text version;
};

std::string modulePath() {
  OLECHAR path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(Module::instance(), path, MAX_PATH);
  return toAnsi(path, length);
}

Text decimal(LONG value) { return toWide(format("%ld", static_cast<long>(value))); }

void appendToFallbackFile(const Record &r) {
  OLECHAR folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return;
  Text path(folder, length);
  path += ErrorLogFileName;
  if (path.size() > MAX_PATH - 1) return;

  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;

  const Text tab(1, 0x09);
  const Text endOfLine = {0x0D, 0x0A};
  const Text dash(1, '-');
  Text text;
  if (SetFilePointer(file, 0, nullptr, FILE_END) == 0) {
    text.push_back(0xFEFF);
    const char *const columns[] = {"GUID",
                                   "Stack",
                                   "Date Time",
                                   "Component",
                                   "Version Information",
                                   "Module",
                                   "File",
                                   "Procedure",
                                   "Line Number",
                                   "Source",
                                   "Error Number",
                                   "Error Description",
                                   "User Domain\\User Name",
                                   "Machine Domain\\Machine Name",
                                   "Previous User Domain\\Previous User Name",
                                   "Previous Machine Domain\\Previous Machine Name",
                                   "Process Id",
                                   "Thread Id"};
    for (size_t i = 0; i < std::size(columns); ++i) text += (i ? tab : Text()) + toWide(columns[i]);
    text += endOfLine;
  }
  const Text fields[] = {toWide("{00000000-0000-0000-0000-000000000000}"),
                         dash,
                         dash,
                         r.component,
                         r.version,
                         r.module,
                         r.file,
                         r.procedure,
                         decimal(r.line),
                         r.source,
                         decimal(r.hr),
                         r.description,
                         dash,
                         dash,
                         dash,
                         dash,
                         dash,
                         dash};
  for (size_t i = 0; i < std::size(fields); ++i) text += (i ? tab : Text()) + fields[i];
  text += endOfLine;

  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(OLECHAR)), &written, nullptr);
  CloseHandle(file);
}

void callLogError(IErrorLog *log, const Record &r, bool setErrorInfo, bool raised) {
  Bstr source(r.source.c_str()), description(r.description.c_str()), component(r.component.c_str()),
      version(r.version.c_str()), module(r.module.c_str()), file(r.file.c_str()), procedure(r.procedure.c_str());
  log->LogError(source.get(), r.hr, description.get(), r.line, component.get(), version.get(), module.get(), file.get(),
                procedure.get(), setErrorInfo ? 1 : 0, raised ? 1 : 0);
}

void sendTrace(ITraceSettings *trace, const Err &e, VARIANT_BOOL &show) {
  Bstr component = toBstr(ComponentName), module = toBstr(e.module), file = toBstr(e.file),
       procedure = toBstr(e.procedure), description = toBstr(e.description);
  trace->SetComponentName(component.get());
  trace->SetModuleName(module.get());
  trace->SetFileName(file.get());
  trace->SetProcedureName(procedure.get());
  trace->TraceRecord(description.get(), 1, e.level, &show);
}

HRESULT handToViewer(const Err &e) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(ViewerProgId, &clsid);
  if (FAILED(hr)) return hr;
  ComPtr<IDispatch> viewer;
  hr = createOutside(clsid, IID_IDispatch, viewer);
  if (FAILED(hr)) return hr;
  DISPID member = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(ViewerMember);
  hr = viewer->GetIDsOfNames(IID_NULL, &name, 1, SystemDefaultLocale, &member);
  if (FAILED(hr)) return hr;

  Bstr message = toBstr(e.description), component = toBstr(ComponentName), module = toBstr(e.module),
       procedure = toBstr(e.procedure);
  LONG level = e.level;
  // Dispatch arguments stand in reverse order: the procedure comes first.
  VARIANTARG arguments[5];
  for (VARIANTARG &a : arguments) VariantInit(&a);
  V_VT(&arguments[0]) = VT_BSTR;
  V_BSTR(&arguments[0]) = procedure.get();
  V_VT(&arguments[1]) = VT_BSTR;
  V_BSTR(&arguments[1]) = module.get();
  V_VT(&arguments[2]) = VT_BSTR;
  V_BSTR(&arguments[2]) = component.get();
  V_VT(&arguments[3]) = VT_I4 | VT_BYREF;
  V_I4REF(&arguments[3]) = &level;
  V_VT(&arguments[4]) = VT_BSTR;
  V_BSTR(&arguments[4]) = message.get();
  DISPPARAMS parameters = {arguments, nullptr, 5, 0};
  return viewer->Invoke(member, IID_NULL, UserDefaultLocale, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
}

void showInViewer(const Err &e) {
  if (handToViewer(e) == CO_E_NOTINITIALIZED) inTemporaryApartment([&] { handToViewer(e); });
}

}  // namespace

bool traceSettingsRead() { return settingsRead.load(); }

LONG traceLevel() { return settingsTraceLevel.load(); }

void readTraceSettings() {
  ComPtr<ITraceSettings> trace;
  const HRESULT hr = createOutside(CLSID_TraceSettings, IID_ITraceSettings, trace);
  if (SUCCEEDED(hr)) {
    Bstr component = toBstr(ComponentName), module = toBstr(ModuleName);
    trace->SetComponentName(component.get());
    trace->SetModuleName(module.get());
    LONG level = 0;
    trace->GetTraceLevel(&level);
    VARIANT_BOOL viewerSwitch = 0;
    trace->GetViewerSwitch(&viewerSwitch);
    settingsTraceLevel = level;
    settingsRead = true;
    settingsViewerEnabled = viewerSwitch != 0;
    noteTraceSettings();
  } else if (hr == CO_E_NOTINITIALIZED) {
    if (!inTemporaryApartment([] { readTraceSettings(); })) settingsTraceLevel = 0;
  } else {
    settingsTraceLevel = 0;
  }
}

std::string moduleVersionText(const OLECHAR *path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return "0.0.0.0";
  std::string data(size, '\0');
  VS_FIXEDFILEINFO *info = nullptr;
  UINT infoSize = 0;
  OLECHAR root[] = {'\\', 0};
  if (!GetFileVersionInfoW(path, 0, size, data.data()) ||
      !VerQueryValueW(data.data(), root, reinterpret_cast<void **>(&info), &infoSize) || info == nullptr ||
      infoSize < sizeof(VS_FIXEDFILEINFO))
    return "0.0.0.0";
  return format("%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)), static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
}

// Read for every record: a read that fails once (the file locked by a
// scanner, say) costs that record its version, not every later one.
static Text ownVersionText() { return toWide(moduleVersionText(toWide(modulePath()).c_str())); }

void writeLogRecord(Err &e, bool setErrorInfo, bool raised) {
  if (e.level != 1) return;
  Record r;
  r.source = toWide(e.source.empty() ? format("%s::%s::%s::%s::%ld", ComponentName, e.module.c_str(), e.file.c_str(),
                                              e.procedure.c_str(), static_cast<long>(e.line))
                                     : e.source);
  r.description = toWide(e.description);
  r.component = toWide(ComponentName);
  r.module = toWide(e.module);
  r.file = toWide(e.file);
  r.procedure = toWide(e.procedure);
  r.line = e.line;
  r.hr = e.hr;
  r.version = ownVersionText();

  bool written = false;
  ComPtr<IErrorLog> log;
  const HRESULT hr = createOutside(CLSID_ErrorLog, IID_IErrorLog, log);
  if (SUCCEEDED(hr)) {
    callLogError(log.get(), r, setErrorInfo, raised);
    if (setErrorInfo) {
      ComPtr<IErrorInfo> info;
      Bstr source;
      if (GetErrorInfo(0, info.put()) == S_OK && info && SUCCEEDED(info->GetSource(source.put())))
        e.source = toAnsi(source.get());
    }
    written = true;
  } else if (hr == CO_E_NOTINITIALIZED) {
    inTemporaryApartment([&] {
      ComPtr<IErrorLog> again;
      if (SUCCEEDED(createOutside(CLSID_ErrorLog, IID_IErrorLog, again))) {
        callLogError(again.get(), r, setErrorInfo, raised);
        written = true;
      }
    });
  }
  if (!written) appendToFallbackFile(r);
}

void writeTraceRecord(const Err &e) {
  VARIANT_BOOL show = 0;
  ComPtr<ITraceSettings> trace;
  const HRESULT hr = createOutside(CLSID_TraceSettings, IID_ITraceSettings, trace);
  if (SUCCEEDED(hr)) {
    sendTrace(trace.get(), e, show);
  } else if (hr == CO_E_NOTINITIALIZED) {
    inTemporaryApartment([&] {
      ComPtr<ITraceSettings> again;
      if (SUCCEEDED(createOutside(CLSID_TraceSettings, IID_ITraceSettings, again))) sendTrace(again.get(), e, show);
    });
  }
  if (!settingsRead) readTraceSettings();
  if (settingsViewerEnabled && show != 0) showInViewer(e);
}

void Err::log(bool setErrorInfo, bool raised) {
  try {
    writeLogRecord(*this, setErrorInfo, raised);
    writeTraceRecord(*this);
  } catch (...) {
  }
}

bool entryRecordsWanted() { return settingsTraceLevel.load(std::memory_order_acquire) >= 5; }

void traceEntry(const Site &site) {
  if (!settingsRead) readTraceSettings();
  if (settingsTraceLevel >= 5) {
    Err e(0, "", site.operation, ModuleName, site.unit, site.operation, site.line, 5);
    e.log(false, false);
  }
}

}  // namespace rv
