// Registers the outside-component doubles for a test and reads what they
// recorded. The classes are registered in the registry (and the viewer under
// its ProgID), so that every thread and apartment of the test reaches them.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ClassesKeys.h"
#include "OutsideDoubles.h"
#include "rvOutsideComponents.h"

class DoublesHarness {
 public:
  explicit DoublesHarness(const char *modulePath) {
    module_ = LoadLibraryA(modulePath);
    if (module_ == nullptr) return;
    WCHAR path[MAX_PATH] = {};
    GetModuleFileNameW(module_, path, MAX_PATH);
    path_ = path;
    for (const CLSID *clsid :
         {&rv::CLSID_ErrorLog, &rv::CLSID_TraceSettings, &CLSID_ViewerDouble, &rv::CLSID_FolderBranding})
      setRegistered(*clsid, true);
    OLECHAR viewer[39];
    StringFromGUID2(CLSID_ViewerDouble, viewer, 39);
    viewerProgId_.emplace_back(OLESTR("TraceConsole_83.ViewerHelper"), nullptr);
    viewerProgId_.emplace_back(OLESTR("TraceConsole_83.ViewerHelper\\CLSID"), viewer);
  }

  bool loaded() const { return module_ != nullptr; }

  // Registers one double's class, or takes it out of the registry as where
  // the component it stands for is not installed.
  void setRegistered(REFCLSID clsid, bool registered) {
    servers_.remove_if([&](const Server &server) { return IsEqualCLSID(server.first, clsid); });
    if (registered)
      servers_.emplace_back(std::piecewise_construct, std::forward_as_tuple(clsid),
                            std::forward_as_tuple(clsid, path_, OLESTR("Both")));
  }

  void reset(const DoublesSettings &settings) { entry<DoublesResetFn>("DoublesReset")(&settings); }

  std::vector<LogErrorCall> logErrorCalls() {
    return records<LogErrorCall, DoublesLogErrorCallsFn>("DoublesLogErrorCalls");
  }
  std::vector<TraceCall> traceCalls() { return records<TraceCall, DoublesTraceCallsFn>("DoublesTraceCalls"); }
  std::vector<ViewerCall> viewerCalls() { return records<ViewerCall, DoublesViewerCallsFn>("DoublesViewerCalls"); }
  DoublesCounts counts() {
    DoublesCounts c = {};
    entry<DoublesCountsFn>("DoublesCounts")(&c);
    return c;
  }

  static std::string text(const WCHAR *value) {
    std::string out;
    for (; *value; ++value) out.push_back(*value < 0x80 ? static_cast<char>(*value) : '?');
    return out;
  }

 private:
  template <typename F> F entry(const char *name) {
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module_, name)));
  }

  template <typename T, typename F> std::vector<T> records(const char *name) {
    F read = entry<F>(name);
    const LONG count = read(nullptr, 0);
    std::vector<T> out(static_cast<size_t>(count));
    read(out.data(), count);
    return out;
  }

  using Server = std::pair<CLSID, RegisteredServer>;

  HMODULE module_ = nullptr;
  ClassesKey::Text path_;
  std::list<Server> servers_;
  std::list<ClassesKey> viewerProgId_;
};
