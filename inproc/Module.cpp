#include "Module.h"

#include "Boundary.h"

namespace {

// Lives from the module's load to its unload: the static object's
// construction is the module's start-up.
struct ModuleState {
  LONG volatile lockCount = 0;
  HMODULE instance = nullptr;

  ModuleState() {
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Module::lockCount), &instance);
    DisableThreadLibraryCalls(instance);
  }
};

ModuleState &state() {
  static ModuleState module;
  return module;
}

}  // namespace

namespace Module {

LONG lock() { return InterlockedIncrement(&state().lockCount); }

LONG unlock() { return InterlockedDecrement(&state().lockCount); }

LONG lockCount() { return InterlockedCompareExchange(&state().lockCount, 0, 0); }

HRESULT canUnloadNow() { return lockCount() == 0 ? S_OK : S_FALSE; }

HMODULE instance() { return state().instance; }

std::basic_string<OLECHAR> path() {
  OLECHAR path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(state().instance, path, MAX_PATH);
  if (length == 0) throw rv::inproc::Failure{rv::inproc::resultOfError(GetLastError())};
  return std::basic_string<OLECHAR>(path, length);
}

}  // namespace Module

namespace rv::inproc {

Text folderOf(const Text &path) {
  const size_t slash = path.find_last_of('\\');
  return slash == Text::npos ? Text() : path.substr(0, slash);
}

}  // namespace rv::inproc
