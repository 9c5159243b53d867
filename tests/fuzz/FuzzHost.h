// What the fuzz targets that drive whole component objects share: a platform
// root of their own, every class of the table reached through class
// activation with this program's class objects, and the outside components'
// doubles, so that the error records of refused inputs go to the error log
// double rather than a file and the trace settings are read once.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "doubles/DoublesHarness.h"
#include "server/ClassTable.h"
#include "server/ComPtr.h"
#include "Module.h"

namespace fuzz_host {

inline DoublesHarness *outside = nullptr;
inline DoublesSettings quiet = {};

// Sets everything up once, from LLVMFuzzerInitialize.
inline void start() {
  static std::string root;
  char pattern[] = "/tmp/winplatform-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  root = pattern;
  setenv("WINPLATFORM_ROOT", root.c_str(), 1);
  std::atexit([] { std::filesystem::remove_all(root); });

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  for (const rv::ClassRow &row : rv::classTable()) {
    IUnknown *factory = nullptr;
    DWORD cookie = 0;
    if (FAILED(row.classObject.QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&factory))) ||
        FAILED(CoRegisterClassObject(*row.clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
      std::abort();
    factory->Release();
  }

  outside = new DoublesHarness(DOUBLES_MODULE);
  quiet.errorLogAvailable = TRUE;
  quiet.traceAvailable = TRUE;
  outside->reset(quiet);
  // The doubles' class objects are registered with the process too, so that
  // the many log records of refused inputs do not each look them up in the
  // registry.
  HMODULE module = LoadLibraryA(DOUBLES_MODULE);
  auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **)>(
      reinterpret_cast<void *>(GetProcAddress(module, "DllGetClassObject")));
  if (getClassObject == nullptr) std::abort();
  for (const CLSID *clsid : {&rv::CLSID_ErrorLog, &rv::CLSID_TraceSettings}) {
    IUnknown *factory = nullptr;
    DWORD cookie = 0;
    if (FAILED(getClassObject(*clsid, IID_IUnknown, reinterpret_cast<void **>(&factory))) ||
        FAILED(CoRegisterClassObject(*clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
      std::abort();
    factory->Release();
  }
}

// Drops what one input left behind: the thread's error information and the
// doubles' records.
inline void afterInput() {
  rv::ComPtr<IErrorInfo> discarded;
  GetErrorInfo(0, discarded.put());
  outside->reset(quiet);
}

}  // namespace fuzz_host
