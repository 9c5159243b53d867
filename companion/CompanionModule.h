// What the rvCompanion module shares between its four classes: the settings
// it reads from the registry, the files it appends lines to, and the object
// template that gives every class its reference count and interfaces. The
// module's lock and path are the kit's (inproc/Module.h); every member runs
// inside the kit's entry boundary (inproc/Boundary.h).
//
// Settings, all under HKEY_LOCAL_MACHINE\SOFTWARE\rvZedaZuvivurAzodav:
//   Trace      Level (DWORD, 0 = off), Viewer (DWORD, 1 = on), ViewerFile
//              (text), ViewerFileLimit (DWORD, bytes); a subkey named after
//              a component (Trace\rvZedaZuvivurAzodav) overrides Level and
//              Viewer for that component alone
//   ErrorLog   File (text)
//   Branding   Folder (text)
// They are read at every use, so a change takes effect without a restart
// wherever the caller asks again.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <optional>
#include <string>

#include "Boundary.h"
#include "ComPtr.h"
#include "Module.h"

namespace rv::companion {

// The key of the settings, below HKEY_LOCAL_MACHINE, and a subkey of it.
Text settingsKey(const OLECHAR *subkey);

// A setting; nothing when the key or value is missing or of another type.
// A text setting that is empty counts as missing. A registry that runs out of
// memory throws inproc::Failure with E_OUTOFMEMORY rather than passing for a
// setting that is not there.
std::optional<DWORD> readNumber(const Text &key, const OLECHAR *name);
std::optional<Text> readText(const Text &key, const OLECHAR *name);
// Nothing, for a registry call that failed with `error`: what is not there
// or may not be read counts as missing. Running out of memory is no missing
// setting, and throws inproc::Failure with E_OUTOFMEMORY.
std::nullopt_t nothingUnlessOutOfMemory(LONG error);

// Writes a setting, making its key. S_OK or the registry's failure.
HRESULT writeNumber(const Text &key, const OLECHAR *name, DWORD value);
HRESULT writeText(const Text &key, const OLECHAR *name, const Text &value);

// The system's temporary folder followed by `name`.
Text inTemporaryFolder(const OLECHAR *name);

// Appends one line (a record; a line end is added) to a UTF-8 text file,
// made when missing. With a limit, a file that the line would take past it
// is first renamed to "<path>.1", replacing the one before, so at most twice
// the limit is kept. Lines from the threads of this process never
// interleave; other processes append to the same file with whole writes.
// S_OK, or the failure of the file system as an HRESULT (a full disk is
// HRESULT_FROM_WIN32(ERROR_DISK_FULL), running out of memory E_OUTOFMEMORY).
HRESULT appendLine(const Text &path, const Text &line, DWORD limit = 0);

// The local time as "YYYY-MM-DD hh:mm:ss.mmm".
Text timestamp();

// The decimal text of a signed number.
Text decimal(LONG value);

// A text of a single line: tabs and line breaks become spaces, so that a
// record stays one line whose fields the tabs separate.
Text oneLine(const OLECHAR *text);

// The four classes' creation, each asked for `riid`; never aggregated.
HRESULT createErrorLog(IUnknown *outer, REFIID riid, void **object);
HRESULT createTraceSettings(IUnknown *outer, REFIID riid, void **object);
HRESULT createViewer(IUnknown *outer, REFIID riid, void **object);
HRESULT createFolderBranding(IUnknown *outer, REFIID riid, void **object);

// The class of the viewer, which the component finds by ProgID.
// {0C8F2D4B-5A31-4E7C-9B6D-2F1E8A4C7D35}
inline constexpr CLSID CLSID_ViewerHelper = {
    0x0C8F2D4B, 0x5A31, 0x4E7C, {0x9B, 0x6D, 0x2F, 0x1E, 0x8A, 0x4C, 0x7D, 0x35}};

// An object of the module with interface I (derived from IDispatch) whose
// identifier is `iid`: reference counting, QueryInterface for IUnknown,
// IDispatch and I, and a dispatch that knows no names, for the classes that
// are called through their function table. The object holds the module.
template <typename I, const IID &iid> class Object : public I {
 public:
  template <typename Derived> static HRESULT create(IUnknown *, REFIID riid, void **object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    Derived *made = new (std::nothrow) Derived;
    if (made == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = made->QueryInterface(riid, object);
    made->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    if (object == nullptr) return E_POINTER;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, iid)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<I *>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  Object() = default;
  virtual ~Object() = default;

 private:
  inproc::ModuleHold hold_;
  LONG references_ = 1;
};

}  // namespace rv::companion
