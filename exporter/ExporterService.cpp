#include "ExporterService.h"

#include <windows.h>
#include <lm.h>

#include <cstdio>
#include <string>

#include "Serving.h"
#include "SystemMessage.h"
#include "Utf8Text.h"

namespace exporter {
namespace {

const wchar_t serviceName[] = L"perf_exporter";
const wchar_t displayName[] = L"perf_exporter (performance counters for Prometheus)";

// How long a stop may take before the service control manager is told that
// the service hangs; the server stops well within it.
constexpr DWORD stopHint = 5000;

// How long --uninstall-service waits for a running service to stop.
constexpr DWORD stopWait = 10000;

std::wstring wide(const std::string &text) {
  std::basic_string<WCHAR> converted = commandline::fromUtf8(text);
  return std::wstring(converted.begin(), converted.end());
}

// One argument as CommandLineToArgvW reads it back: quoted where it holds a
// blank or a quote, a quote escaped, and backslashes doubled where they stand
// before a quote.
std::wstring quoted(const std::wstring &argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

int failed(const std::string &what, DWORD code) {
  fprintf(stderr, "perf_exporter: %s: %s\n", what.c_str(), commandline::systemReason(code).c_str());
  return Failure;
}

// A service control handle owned for a scope.
struct ServiceHandle {
  SC_HANDLE handle;
  explicit ServiceHandle(SC_HANDLE opened) : handle(opened) {}
  ServiceHandle(const ServiceHandle &) = delete;
  ServiceHandle &operator=(const ServiceHandle &) = delete;
  ~ServiceHandle() {
    if (handle != nullptr) CloseServiceHandle(handle);
  }
};

// The system's service accounts go by names the service control manager
// takes but LookupAccountName does not know: their SIDs are well known.
struct ServiceAccount {
  const wchar_t *name;
  WELL_KNOWN_SID_TYPE sid;
};
const ServiceAccount serviceAccounts[] = {
    {L"NT AUTHORITY\\LocalService", WinLocalServiceSid},
    {L"NT AUTHORITY\\NetworkService", WinNetworkServiceSid},
    {L"LocalSystem", WinLocalSystemSid},
    {L".\\LocalSystem", WinLocalSystemSid},
};

// The SID of `account` in `sid`, or a system error code.
DWORD accountSid(const std::wstring &account, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  DWORD size = sizeof sid;
  for (const ServiceAccount &known : serviceAccounts) {
    if (lstrcmpiW(account.c_str(), known.name) == 0)
      return CreateWellKnownSid(known.sid, nullptr, sid, &size) ? ERROR_SUCCESS : GetLastError();
  }
  wchar_t domain[256];
  DWORD domainSize = static_cast<DWORD>(std::size(domain));
  SID_NAME_USE use;
  return LookupAccountNameW(nullptr, account.c_str(), sid, &size, domain, &domainSize, &use) ? ERROR_SUCCESS
                                                                                             : GetLastError();
}

// Makes the service's account a member of Performance Monitor Users, the
// group the system lets read performance data, and says so; the system's own
// account may read it already. A membership that cannot be made is a
// warning, with the command that makes it: the service is installed as asked.
void grantPerformanceData(const std::wstring &account) {
  const std::string shown = commandline::toUtf8(std::basic_string<WCHAR>(account.begin(), account.end()));
  BYTE groupSid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof groupSid;
  wchar_t group[256] = L"Performance Monitor Users";
  if (CreateWellKnownSid(WinBuiltinPerfMonitoringUsersSid, nullptr, groupSid, &size)) {
    wchar_t name[256], domain[256];
    DWORD nameSize = static_cast<DWORD>(std::size(name)), domainSize = static_cast<DWORD>(std::size(domain));
    SID_NAME_USE use;
    // The group's name in the system's language.
    if (LookupAccountSidW(nullptr, groupSid, name, &nameSize, domain, &domainSize, &use)) lstrcpyW(group, name);
  }
  const std::string groupShown = commandline::toUtf8(std::basic_string<WCHAR>(group, group + lstrlenW(group)));
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD code = accountSid(account, sid);
  if (code == ERROR_SUCCESS && IsWellKnownSid(sid, WinLocalSystemSid)) {
    printf("perf_exporter: the service runs as %s, which may read performance data\n", shown.c_str());
    return;
  }
  if (code == ERROR_SUCCESS) {
    LOCALGROUP_MEMBERS_INFO_0 member{sid};
    code = NetLocalGroupAddMembers(nullptr, group, 0, reinterpret_cast<BYTE *>(&member), 1);
    if (code == ERROR_MEMBER_IN_ALIAS) code = NERR_Success;
  }
  if (code == NERR_Success) {
    printf("perf_exporter: the service runs as %s, a member of %s, which may read performance data\n", shown.c_str(),
           groupShown.c_str());
    return;
  }
  fprintf(stderr,
          "perf_exporter: warning: the service runs as %s, which could not be made a member of %s (%s); without it "
          "the service reads no counters: net localgroup \"%s\" \"%s\" /add\n",
          shown.c_str(), groupShown.c_str(), commandline::systemReason(code).c_str(), groupShown.c_str(),
          shown.c_str());
}

// What the running service shares with its control handler.
struct Running {
  const Options *options = nullptr;
  SERVICE_STATUS_HANDLE status = nullptr;
  StopRequest *stop = nullptr;
  HANDLE eventSource = nullptr;
  int result = Success;
} running;

void report(DWORD state, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status.dwServiceSpecificExitCode = exitCode;
  status.dwWaitHint = state == SERVICE_STOP_PENDING || state == SERVICE_START_PENDING ? stopHint : 0;
  SetServiceStatus(running.status, &status);
}

// A service has no console: what it says goes to the Application event log.
void toEventLog(const std::string &message) {
  if (running.eventSource == nullptr) return;
  std::wstring text = L"perf_exporter: " + wide(message);
  const wchar_t *strings[] = {text.c_str()};
  const bool problem = message.rfind("cannot", 0) == 0 || message.rfind("warning", 0) == 0 ||
                       message.find("failed") != std::string::npos;
  ReportEventW(running.eventSource, problem ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0,
               strings, nullptr);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *) {
  switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      report(SERVICE_STOP_PENDING);
      running.stop->request();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI serviceMain(DWORD, LPWSTR *) {
  running.status = RegisterServiceCtrlHandlerExW(serviceName, control, nullptr);
  if (running.status == nullptr) return;
  report(SERVICE_START_PENDING);
  running.eventSource = RegisterEventSourceW(nullptr, serviceName);
  {
    StopRequest stop;
    running.stop = &stop;
    running.result = serve(*running.options, stop, toEventLog, [] { report(SERVICE_RUNNING); });
  }
  if (running.eventSource != nullptr) DeregisterEventSource(running.eventSource);
  report(SERVICE_STOPPED, static_cast<DWORD>(running.result));
}

}  // namespace

int installService(const Options &options) {
  wchar_t program[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return failed("cannot find this program's path", GetLastError());
  std::wstring command = quoted(program) + L" --service";
  for (const std::string &argument : options.servingArguments) command += L" " + quoted(wide(argument));

  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (manager.handle == nullptr) return failed("cannot open the service control manager", GetLastError());
  // An account without a password: the system's service accounts, a virtual
  // or a managed service account.
  const std::wstring account = wide(options.serviceAccount);
  ServiceHandle service(CreateServiceW(manager.handle, serviceName, displayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       command.c_str(), nullptr, nullptr, nullptr, account.c_str(), nullptr));
  if (service.handle == nullptr) {
    DWORD code = GetLastError();
    if (code == ERROR_SERVICE_EXISTS) {
      fprintf(stderr, "perf_exporter: the service perf_exporter is installed already; --uninstall-service first\n");
      return Failure;
    }
    return failed("cannot install the service perf_exporter", code);
  }
  std::wstring about = L"Serves this machine's performance counters to Prometheus at http://" +
                       wide(options.address.text()) + L"/metrics.";
  SERVICE_DESCRIPTIONW description{about.data()};
  ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_DESCRIPTION, &description);
  printf("perf_exporter: installed the service perf_exporter: %s\n",
         commandline::toUtf8(std::basic_string<WCHAR>(command.begin(), command.end())).c_str());
  grantPerformanceData(account);
  printf("perf_exporter: it starts with the system; to start it now: sc start perf_exporter\n");
  return Success;
}

int uninstallService() {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) return failed("cannot open the service control manager", GetLastError());
  ServiceHandle service(OpenServiceW(manager.handle, serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (service.handle == nullptr) {
    DWORD code = GetLastError();
    if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
      printf("perf_exporter: the service perf_exporter is not installed; nothing to remove\n");
      return Success;
    }
    return failed("cannot open the service perf_exporter", code);
  }
  SERVICE_STATUS status{};
  if (ControlService(service.handle, SERVICE_CONTROL_STOP, &status)) {
    const ULONGLONG until = GetTickCount64() + stopWait;
    while (status.dwCurrentState != SERVICE_STOPPED && GetTickCount64() < until) {
      Sleep(100);
      if (!QueryServiceStatus(service.handle, &status)) break;
    }
    if (status.dwCurrentState != SERVICE_STOPPED) {
      fprintf(stderr, "perf_exporter: warning: the service did not stop within %lu seconds\n",
              static_cast<unsigned long>(stopWait / 1000));
    }
  }
  if (!DeleteService(service.handle)) return failed("cannot remove the service perf_exporter", GetLastError());
  printf("perf_exporter: removed the service perf_exporter\n");
  return Success;
}

int runService(const Options &options) {
  running.options = &options;
  wchar_t name[std::size(serviceName)];
  lstrcpyW(name, serviceName);
  SERVICE_TABLE_ENTRYW services[] = {{name, serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(services)) {
    return failed("--service is for the service control manager (sc start perf_exporter)", GetLastError());
  }
  return running.result;
}

}  // namespace exporter
