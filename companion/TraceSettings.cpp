// The trace settings component: the trace level and the viewer switch of a
// component, read from the Trace key at every call, so that tracing is
// switched on in the registry (reg add, regedit) without rebuilding or
// reinstalling anything. The component named by SetComponentName may have a
// subkey of its own, Trace\<name>, whose values take precedence.
//
// Level 0 traces nothing; 1 shows error records; higher levels show records
// of up to that level (the component writes an entry record for every
// member it runs at level 5 and above).
#include "rvOutsideComponents.h"
#include "CompanionModule.h"

namespace rv::companion {

namespace {

const OLECHAR LevelValue[] = OLESTR("Level");
const OLECHAR ViewerValue[] = OLESTR("Viewer");

class TraceSettings final : public Object<ITraceSettings, rv::IID_ITraceSettings> {
 public:
  HRESULT STDMETHODCALLTYPE TraceRecord(BSTR, LONG, LONG level, VARIANT_BOOL *show) override {
    if (show == nullptr) return E_POINTER;
    return inproc::boundary([&] {
      const LONG traced = static_cast<LONG>(setting(LevelValue));
      *show = level >= 1 && level <= traced ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    });
  }
  // A name that is no single key name (empty, or holding a backslash) has
  // no key of its own and reads the shared settings.
  HRESULT STDMETHODCALLTYPE SetComponentName(BSTR name) override {
    return inproc::boundary([&] {
      component_ = name != nullptr ? Text(name) : Text();
      if (component_.find('\\') != Text::npos) component_.clear();
      return S_OK;
    });
  }
  // The rest of a record's origin reaches the viewer with the record itself;
  // the settings do not depend on it.
  HRESULT STDMETHODCALLTYPE SetModuleName(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetFileName(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProcedureName(BSTR) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE SetTraceLevel(LONG level) override {
    if (level < 0) return E_INVALIDARG;
    return inproc::boundary([&] { return store(LevelValue, static_cast<DWORD>(level)); });
  }
  HRESULT STDMETHODCALLTYPE GetTraceLevel(LONG *level) override {
    if (level == nullptr) return E_POINTER;
    return inproc::boundary([&] {
      *level = static_cast<LONG>(setting(LevelValue));
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE SetViewerSwitch(VARIANT_BOOL on) override {
    return inproc::boundary([&] { return store(ViewerValue, on != 0 ? 1 : 0); });
  }
  HRESULT STDMETHODCALLTYPE GetViewerSwitch(VARIANT_BOOL *on) override {
    if (on == nullptr) return E_POINTER;
    return inproc::boundary([&] {
      *on = setting(ViewerValue) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    });
  }

 private:
  // The component's own key when it has one, else the shared Trace key. A
  // level too large for a LONG reads as the largest.
  DWORD setting(const OLECHAR *name) const {
    const Text shared = settingsKey(OLESTR("Trace"));
    std::optional<DWORD> value;
    if (!component_.empty()) value = readNumber(shared + OLESTR("\\") + component_, name);
    if (!value) value = readNumber(shared, name);
    return value ? (*value > 0x7FFFFFFF ? 0x7FFFFFFF : *value) : 0;
  }

  // A store goes where the read would look first.
  HRESULT store(const OLECHAR *name, DWORD value) const {
    Text key = settingsKey(OLESTR("Trace"));
    if (!component_.empty()) key += OLESTR("\\") + component_;
    return writeNumber(key, name, value);
  }

  Text component_;
};

}  // namespace

HRESULT createTraceSettings(IUnknown *outer, REFIID riid, void **object) {
  return TraceSettings::create<TraceSettings>(outer, riid, object);
}

}  // namespace rv::companion
