// A host of its own, written as a user of the installed package writes one:
// it registers the component module, loads and registers a definition file
// (on POSIX Register runs the installed lodctr, found beside the platform
// library), creates an instance, sets a value, publishes the tree and runs
// perfquery, which reads the value in another process through the collector.
//   installed_host COMPONENT_MODULE COLLECTOR_MODULE PERFQUERY
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "PublishedTree.h"
#include "rvZedaZuvivurAzodav.h"
#include "rvText.h"

namespace {

using rv::Text;

Text wide(const std::string &text) {
  Text out;
  for (unsigned char c : text) out.push_back(c);
  return out;
}

// The failing step, its code, the system's text for it and the component's
// own description when it left one.
int fail(const std::string &step, HRESULT hr) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr), 0, text,
                 sizeof text, nullptr);
  std::string description;
  IErrorInfo *info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
    BSTR said = nullptr;
    if (SUCCEEDED(info->GetDescription(&said)) && said != nullptr)
      for (const WCHAR *c = said; *c; ++c) description.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    SysFreeString(said);
    info->Release();
  }
  fprintf(stderr, "installed_host: %s failed: 0x%08X %s%s\n", step.c_str(), static_cast<unsigned>(hr), text,
          description.c_str());
  return 1;
}

HRESULT callEntry(const std::string &module, const char *entry) {
  HMODULE loaded = LoadLibraryA(module.c_str());
  if (loaded == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  using Entry = HRESULT(STDAPICALLTYPE *)();
  auto function = reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(loaded, entry)));
  HRESULT hr = function != nullptr ? function() : HRESULT_FROM_WIN32(GetLastError());
  FreeLibrary(loaded);
  return hr;
}

template <typename T> struct Ref {
  T *p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
};

struct OwnedBstr {
  BSTR value;
  explicit OwnedBstr(const std::string &text) : value(SysAllocString(wide(text).c_str())) {}
  ~OwnedBstr() { SysFreeString(value); }
};

// What the host leaves behind is removed again on every path: its files,
// its service key and the component's registration.
struct Leftovers {
  std::string component, folder, service;
  ~Leftovers() {
    for (const char *name : {"RVCounters.xml", "installed.h", "installed.ini"})
      DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA(folder.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, service.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, service.c_str());
    callEntry(component, "DllUnregisterServer");
  }
};

// The name index that lodctr gave the service's first counter; none (Wine's
// lodctr installs no names) leaves the collector's own base, 10000.
bool firstCounter(const std::string &service, DWORD *base) {
  HKEY key = nullptr;
  DWORD size = sizeof *base;
  const bool found =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, (service + "\\Performance").c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS &&
      RegQueryValueExA(key, "First Counter", nullptr, nullptr, reinterpret_cast<BYTE *>(base), &size) == ERROR_SUCCESS;
  if (key) RegCloseKey(key);
  if (!found) *base = 10000;
  return found;
}

int host(const std::string &component, const std::string &collector, const std::string &perfquery) {
  HRESULT hr = callEntry(component, "DllRegisterServer");
  if (FAILED(hr)) return fail("registering " + component, hr);

  char temp[MAX_PATH] = "";
  GetTempPathA(MAX_PATH, temp);
  const std::string id = std::to_string(GetCurrentProcessId()), device = "RVInstalledHost" + id;
  Leftovers leftovers{component, std::string(temp) + "installed-host-" + id,
                      "SYSTEM\\CurrentControlSet\\Services\\" + device};
  CreateDirectoryA(leftovers.folder.c_str(), nullptr);
  const std::string definition =
      "<PerfData headerFile=\"installed.h\" iniFile=\"installed.ini\" perfmonDLLFile=\"" + collector +
      "\" deviceName=\"" + device +
      "\" instanceCleannupPolling=\"0\">"
      "<Object name=\"Installed Sessions\" help=\"Open sessions\" hasInstances=\"true\" "
      "autoCreateInstanceTotal=\"false\" instanceTimeout=\"0\">"
      "<Counter name=\"Active\" help=\"Active sessions\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/>"
      "</Object></PerfData>";
  HANDLE file = CreateFileA((leftovers.folder + "\\RVCounters.xml").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, definition.data(), static_cast<DWORD>(definition.size()), &written, nullptr);
  CloseHandle(file);
  if (!wrote) return fail("writing the definition file", HRESULT_FROM_WIN32(GetLastError()));

  CLSID manager_class;
  Ref<IPerfMgr> manager;
  if (FAILED(hr = CLSIDFromProgID(wide("rvZedaZuvivurAzodav_83.PerfMgr").c_str(), &manager_class)))
    return fail("CLSIDFromProgID", hr);
  if (FAILED(hr = CoCreateInstance(manager_class, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfMgr,
                                   reinterpret_cast<void **>(&manager.p))))
    return fail("creating the PerfMgr", hr);
  OwnedBstr folder(leftovers.folder);
  if (FAILED(hr = manager.p->Load(folder.value))) return fail("Load", hr);
  if (FAILED(hr = manager.p->Register(folder.value))) return fail("Register", hr);
  DWORD base = 0;
  const bool named = firstCounter(leftovers.service, &base);
#ifndef _WIN32
  // The platform's lodctr always installs names; none means Register did
  // not find it beside the platform library.
  if (!named) return fail("lodctr through Register", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
#endif
  (void)named;

  Ref<IPerfObjects> objects;
  Ref<IPerfObject> object;
  Ref<IPerfInstance> instance;
  Ref<IPerfCounters> counters;
  Ref<IPerfCounter> counter;
  LONG objectId = 0;
  OwnedBstr alpha("alpha");
  if (FAILED(hr = manager.p->get_PerfObjects(&objects.p))) return fail("PerfObjects", hr);
  if (FAILED(hr = objects.p->get_Item(1, &object.p))) return fail("PerfObjects.Item", hr);
  if (FAILED(hr = object.p->get_ID(&objectId))) return fail("PerfObject.ID", hr);
  if (FAILED(hr = object.p->CreateInstance(alpha.value, &instance.p))) return fail("CreateInstance", hr);
  if (FAILED(hr = instance.p->get_PerfCounters(&counters.p))) return fail("PerfCounters", hr);
  if (FAILED(hr = counters.p->get_Item(1, &counter.p))) return fail("PerfCounters.Item", hr);
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = 42;
  if (FAILED(hr = counter.p->put_Value(value))) return fail("PerfCounter.Value", hr);

  rv::publishing::TreePublisher publisher(wide(device).c_str());
  if (FAILED(hr = publisher.publish(manager.p))) return fail("publishing the tree", hr);

  std::string command = "\"" + perfquery + "\" " + std::to_string(base + static_cast<DWORD>(objectId));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return fail("starting " + command, HRESULT_FROM_WIN32(GetLastError()));
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (exitCode != 0) return fail(command, static_cast<HRESULT>(exitCode));
  fflush(stdout);
  printf("installed_host: perfquery read the published value\n");
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: installed_host COMPONENT_MODULE COLLECTOR_MODULE PERFQUERY\n");
    return 2;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) return fail("CoInitializeEx", hr);
  const int result = host(argv[1], argv[2], argv[3]);
  CoUninitialize();
  return result;
}
