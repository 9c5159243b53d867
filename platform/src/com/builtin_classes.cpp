// The table of built-in classes, and the class factory that serves them.
#include <windows.h>

#include <array>
#include <atomic>
#include <new>

#include "com/builtin_classes.h"
#include "msxml/dom_document.h"

namespace platform::com {
namespace {

// CLSID, ProgID, creator.
constexpr std::array<BuiltinClass, 1> kBuiltinClasses{{
    {{0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}},
     OLESTR("Msxml2.DOMDocument"),
     msxml::CreateDomDocument},
}};

class BuiltinClassFactory final : public IClassFactory {
 public:
  explicit BuiltinClassFactory(const BuiltinClass &builtin) : builtin_(builtin) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    // Nothing may be thrown through a COM method: the caller would keep its
    // reference to this factory for ever.
    try {
      return builtin_.create(outer, riid, ppv);
    } catch (const std::bad_alloc &) {
      *ppv = nullptr;
      return E_OUTOFMEMORY;
    }
  }
  // The classes live in the platform library, which is never unloaded.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  const BuiltinClass &builtin_;
  std::atomic<ULONG> references_{1};
};

}  // namespace

const BuiltinClass *findBuiltinClass(REFCLSID rclsid) {
  for (const BuiltinClass &builtin : kBuiltinClasses)
    if (IsEqualCLSID(builtin.clsid, rclsid)) return &builtin;
  return nullptr;
}

const BuiltinClass *findBuiltinProgId(LPCOLESTR progId) {
  for (const BuiltinClass &builtin : kBuiltinClasses)
    if (lstrcmpiW(builtin.progId, progId) == 0) return &builtin;
  return nullptr;
}

HRESULT getBuiltinClassObject(const BuiltinClass &builtin, REFIID riid, void **ppv) {
  auto *factory = new (std::nothrow) BuiltinClassFactory(builtin);
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

}  // namespace platform::com
