// A minimal in-process server: one class, counted objects and server locks,
// and the two entry points that class activation uses.
#include "TestServer.h"

namespace {

LONG objectsMade = 0;
LONG liveObjects = 0;
LONG serverLocks = 0;

class TestServerObject final : public ISerialNumber {
 public:
  TestServerObject() : serial_(InterlockedIncrement(&objectsMade)) { InterlockedIncrement(&liveObjects); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISerialNumber)) {
      *ppv = static_cast<ISerialNumber *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
      InterlockedDecrement(&liveObjects);
    }
    return left;
  }
  LONG STDMETHODCALLTYPE SerialNumber() override { return serial_; }

 private:
  LONG references_ = 1;
  const LONG serial_;
};

// The class object is static; only LockServer keeps the module loaded.
class TestServerFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory *>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto *object = new TestServerObject;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&serverLocks);
    else
      InterlockedDecrement(&serverLocks);
    return S_OK;
  }
};

TestServerFactory factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_TestServerObject)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow(void) { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }
