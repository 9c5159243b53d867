// The collector library's entry points, as the system's performance data
// reader calls them: Open once (or once per reader), Collect for every query,
// Close when a reader is done.
#include <windows.h>
#include <winperf.h>

#include "PerfCollector.h"

namespace {

rv::collector::PerfCollector &collector() {
  static rv::collector::PerfCollector instance;
  return instance;
}

HMODULE thisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&thisModule), &module);
  return module;
}

// Wine loads the library for each service of each query and frees it right
// after its Close. Pinned (again at every Open, which changes nothing), it
// stays, and with it what the collector knows of the query under way: which
// call served the trees.
void pinThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&pinThisModule), &module);
}

}  // namespace

extern "C" DWORD WINAPI OpenNorvalePerfData(LPWSTR) {
  pinThisModule();
  return collector().open(thisModule());
}

extern "C" DWORD WINAPI CollectNorvalePerfData(LPWSTR query, LPVOID *data, LPDWORD bytes, LPDWORD objects) {
  return collector().collect(query, data, bytes, objects);
}

extern "C" DWORD WINAPI CloseNorvalePerfData() {
  collector().close();
  return ERROR_SUCCESS;
}
