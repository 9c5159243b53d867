// The viewer, TraceConsole_83.ViewerHelper: its one member, LogMessage, is
// called by name through IDispatch with the message, the level (a number,
// also by reference), the component, the module and the procedure. Each
// record becomes one line, sent to the debugger output (DebugView, a
// debugger, or WINPLATFORM_DEBUG_OUTPUT on POSIX) and appended to the viewer
// file: the Trace key's ViewerFile value, by default
// rvZedaZuvivurAzodav.Trace.txt in the temporary folder. The file is kept
// under ViewerFileLimit bytes (default 1 MiB, 0 for no limit): when the next
// line would pass it, the file becomes "<file>.1", replacing the one
// before, and a new file starts.
#include "CompanionModule.h"
#include "rvOutsideComponents.h"

namespace rv::companion {

namespace {

constexpr DISPID DispatchIdOfLogMessage = 1;
constexpr UINT ArgumentCount = 5;
constexpr DWORD DefaultLimit = 1024 * 1024;
const OLECHAR DefaultFileName[] = OLESTR("rvZedaZuvivurAzodav.Trace.txt");

// One argument of the call, converted to `type`; by reference or by value.
HRESULT argument(VARIANTARG &given, VARTYPE type, Variant &out) {
  Variant value;
  HRESULT hr = VariantCopyInd(value.get(), &given);
  if (FAILED(hr)) return hr;
  return VariantChangeType(out.put(), value.get(), 0, type);
}

class Viewer final : public Object<IDispatch, IID_IDispatch> {
 public:
  // Matching a name allocates nothing, so no boundary is needed here.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID, DISPID *ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    // Only the member has a name here, not its parameters.
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (names[0] == nullptr || lstrcmpiW(names[0], ViewerMember) != 0) return DISP_E_UNKNOWNNAME;
    ids[0] = DispatchIdOfLogMessage;
    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS *parameters,
                                   VARIANT *result, EXCEPINFO *, UINT *argumentError) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (member != DispatchIdOfLogMessage) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (parameters == nullptr) return E_INVALIDARG;
    if (parameters->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (parameters->cArgs != ArgumentCount) return DISP_E_BADPARAMCOUNT;
    if (result != nullptr) VariantInit(result);
    return inproc::boundary([&] { return logMessage(*parameters, argumentError); });
  }

 private:
  static HRESULT logMessage(DISPPARAMS &parameters, UINT *argumentError) {
    // In the array the arguments stand in reverse order: message, level,
    // component, module, procedure are at 4, 3, 2, 1, 0.
    const VARTYPE types[ArgumentCount] = {VT_BSTR, VT_BSTR, VT_BSTR, VT_I4, VT_BSTR};
    Variant values[ArgumentCount];
    for (UINT at = 0; at < ArgumentCount; ++at)
      if (const HRESULT hr = argument(parameters.rgvarg[at], types[at], values[at]); FAILED(hr)) {
        // Running out of memory is no fault of the argument's.
        if (hr == E_OUTOFMEMORY) return hr;
        if (argumentError != nullptr) *argumentError = at;
        return DISP_E_TYPEMISMATCH;
      }
    return show(V_BSTR(values[4].get()), V_I4(values[3].get()), V_BSTR(values[2].get()), V_BSTR(values[1].get()),
                V_BSTR(values[0].get()));
  }

  // The line: time, level, component, module, procedure and message.
  static HRESULT show(BSTR message, LONG level, BSTR component, BSTR module, BSTR procedure) {
    const OLECHAR tab[] = {'\t', 0};
    const Text line = timestamp() + tab + decimal(level) + tab + oneLine(component) + tab + oneLine(module) + tab +
                      oneLine(procedure) + tab + oneLine(message);
    OutputDebugStringW((line + OLESTR("\n")).c_str());
    const Text key = settingsKey(OLESTR("Trace"));
    const Text path = readText(key, OLESTR("ViewerFile")).value_or(inTemporaryFolder(DefaultFileName));
    return appendLine(path, line, readNumber(key, OLESTR("ViewerFileLimit")).value_or(DefaultLimit));
  }
};

}  // namespace

HRESULT createViewer(IUnknown *outer, REFIID riid, void **object) {
  return Viewer::create<Viewer>(outer, riid, object);
}

}  // namespace rv::companion
