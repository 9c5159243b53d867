// Registers the outside-component doubles for a test and reads what they
// recorded. The classes are registered in the registry (and the viewer under
// its ProgID), so that every thread and apartment of the test reaches them.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "OutsideDoubles.h"
#include "log/OutsideComponents.h"

class DoublesHarness {
 public:
  explicit DoublesHarness(const char *modulePath) {
    module_ = LoadLibraryA(modulePath);
    if (module_ == nullptr) return;
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module_, path, MAX_PATH);
    for (const CLSID *clsid : {&rv::CLSID_ErrorLog, &rv::CLSID_TraceSettings, &CLSID_ViewerDouble}) {
      const std::string key = "CLSID\\" + guidText(*clsid) + "\\InprocServer32";
      setText(key, nullptr, path);
      setText(key, "ThreadingModel", "Both");
    }
    setText("TraceConsole_83.ViewerHelper\\CLSID", nullptr, guidText(CLSID_ViewerDouble).c_str());
  }

  ~DoublesHarness() {
    for (const CLSID *clsid : {&rv::CLSID_ErrorLog, &rv::CLSID_TraceSettings, &CLSID_ViewerDouble})
      deleteTree("CLSID\\" + guidText(*clsid));
    deleteTree("TraceConsole_83.ViewerHelper");
  }

  bool loaded() const { return module_ != nullptr; }

  void reset(const DoublesSettings &settings) { entry<DoublesResetFn>("DoublesReset")(&settings); }

  std::vector<LogErrorCall> logErrorCalls() { return records<LogErrorCall, DoublesLogErrorCallsFn>("DoublesLogErrorCalls"); }
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

  static std::string guidText(const GUID &guid) {
    OLECHAR text[40];
    StringFromGUID2(guid, text, 40);
    return DoublesHarness::text(text);
  }

  static std::basic_string<WCHAR> wide(const std::string &value) { return {value.begin(), value.end()}; }

  static void setText(const std::string &key, const char *name, const char *value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, wide(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
      return;
    const std::basic_string<WCHAR> data = wide(value);
    const std::basic_string<WCHAR> valueName = name ? wide(name) : std::basic_string<WCHAR>();
    RegSetValueExW(handle, name ? valueName.c_str() : nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(handle);
  }

  static void deleteTree(const std::string &key) { RegDeleteTreeW(HKEY_CLASSES_ROOT, wide(key).c_str()); RegDeleteKeyW(HKEY_CLASSES_ROOT, wide(key).c_str()); }

  HMODULE module_ = nullptr;
};
