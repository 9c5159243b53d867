// Class activation: CoGetClassObject and the calls built on it.
//
// A class is looked for, in this order: among the class objects registered
// in the serving apartment (CoRegisterClassObject), among the platform's
// built-in classes, then in the registry as an in-process server
// (HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32). Only in-process servers
// exist here: a request that also allows an in-process handler, a local or a
// remote server and finds no in-process server gets REGDB_E_CLASSNOTREG, the
// answer for those contexts when nothing is registered for them.
#include <windows.h>

#include "com/apartment.h"
#include "com/builtin_classes.h"
#include "com/class_keys.h"
#include "com/class_objects.h"
#include "com/inproc_servers.h"
#include "registry/store.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <optional>

EXTERN_C const IID IID_IRunnableObject = {0x00000126, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace platform::com {
namespace {

constexpr DWORD kOutOfProcessContexts = CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// Threading models whose objects any thread may call.
bool isMultithreadedModel(const std::optional<WideText> &model) {
  if (!model) return false;
  for (LPCOLESTR name : {OLESTR("Both"), OLESTR("Free"), OLESTR("Neutral")})
    if (lstrcmpiW(model->c_str(), name) == 0) return true;
  return false;
}

// What the registry said about a class's in-process server, with the
// registry's generation at the time: the module and its threading model, or
// that there is none. An answer is reused while the generation stays the
// same, so that a class asked for again and again (each child collection of
// a tree, an optional helper component that is not installed) is looked up
// once per change of the registry, not once per request.
struct InprocRegistration {
  uint64_t generation = 0;
  // The module as a POSIX path, converted once.
  std::optional<std::string> modulePath;
  bool multithreaded = false;
};

class KnownClasses {
 public:
  std::optional<InprocRegistration> find(REFCLSID rclsid, std::optional<uint64_t> now) {
    if (!now) return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);
    auto found = known_.find(rclsid);
    if (found == known_.end() || found->second.generation != *now) return std::nullopt;
    return found->second;
  }
  void remember(REFCLSID rclsid, const InprocRegistration &registration, std::optional<uint64_t> seen) {
    if (!seen) return;
    std::lock_guard<std::mutex> guard(lock_);
    InprocRegistration &entry = known_[rclsid];
    entry = registration;
    entry.generation = *seen;
  }

 private:
  struct Less {
    bool operator()(const CLSID &a, const CLSID &b) const { return std::memcmp(&a, &b, sizeof(CLSID)) < 0; }
  };
  std::mutex lock_;
  std::map<CLSID, InprocRegistration, Less> known_;
};

KnownClasses &knownClasses() {
  static auto *classes = new KnownClasses;
  return *classes;
}

InprocRegistration readRegistration(REFCLSID rclsid) {
  InprocRegistration registration;
  WideText serverKey = classKeyPath(rclsid) + OLESTR("\\InprocServer32");
  std::optional<WideText> value = readClassesText(serverKey, nullptr);
  if (!value) return registration;
  registration.modulePath = posixModulePath(*value);
  registration.multithreaded = isMultithreadedModel(readClassesText(serverKey, OLESTR("ThreadingModel")));
  return registration;
}

HRESULT getInprocServerObject(const std::shared_ptr<Apartment> &apartment, REFCLSID rclsid, REFIID riid, void **ppv) {
  if (const BuiltinClass *builtin = findBuiltinClass(rclsid)) return getBuiltinClassObject(*builtin, riid, ppv);
  // The generation is taken before the lookup, so that a change made while
  // the lookup runs makes the next request look again.
  const std::optional<uint64_t> generation = registry::Store::generation();
  std::optional<InprocRegistration> registration = knownClasses().find(rclsid, generation);
  if (!registration) {
    registration = readRegistration(rclsid);
    knownClasses().remember(rclsid, *registration, generation);
  }
  if (!registration->modulePath) return REGDB_E_CLASSNOTREG;
  return getInprocClassObject(apartment, *registration->modulePath, registration->multithreaded, rclsid, riid, ppv);
}

}  // namespace
}  // namespace platform::com

// The server information is for remote activation and is not looked at.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  std::shared_ptr<platform::com::Apartment> apartment = platform::com::servingApartment();
  if (!apartment) return CO_E_NOTINITIALIZED;

  if (IUnknown *registered = platform::com::findRegisteredClassObject(*apartment, rclsid, dwClsContext)) {
    HRESULT hr = registered->QueryInterface(riid, ppv);
    registered->Release();
    return hr;
  }
  // A context naming none of the four kinds of server is unexpected.
  HRESULT hr = E_UNEXPECTED;
  if (dwClsContext & CLSCTX_INPROC_SERVER) {
    // A registration that could not be read for want of memory is not taken
    // for a missing one, nor remembered as one.
    try {
      hr = platform::com::getInprocServerObject(apartment, rclsid, riid, ppv);
    } catch (const std::bad_alloc &) {
      hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) return hr;
    *ppv = nullptr;
  }
  // Running out of memory ends the request as it is: no other kind of
  // server could be tried without memory either.
  if ((dwClsContext & platform::com::kOutOfProcessContexts) && hr != E_OUTOFMEMORY) hr = REGDB_E_CLASSNOTREG;
  return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory *factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void **>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

// Every entry starts as "no interface"; when the object cannot be created
// they stay so and the creation's result is returned.
HRESULT CoCreateInstanceEx(REFCLSID Clsid, IUnknown *punkOuter, DWORD dwClsCtx, COSERVERINFO *, DWORD dwCount,
                           MULTI_QI *pResults) {
  if (dwCount == 0 || pResults == nullptr) return E_INVALIDARG;
  for (DWORD i = 0; i < dwCount; ++i) {
    if (pResults[i].pIID == nullptr) return E_INVALIDARG;
    pResults[i].pItf = nullptr;
    pResults[i].hr = E_NOINTERFACE;
  }
  IUnknown *object = nullptr;
  HRESULT hr = CoCreateInstance(Clsid, punkOuter, dwClsCtx, IID_IUnknown, reinterpret_cast<void **>(&object));
  if (FAILED(hr)) return hr;
  DWORD answered = 0;
  for (DWORD i = 0; i < dwCount; ++i) {
    pResults[i].hr = object->QueryInterface(*pResults[i].pIID, reinterpret_cast<void **>(&pResults[i].pItf));
    if (SUCCEEDED(pResults[i].hr)) ++answered;
  }
  object->Release();
  if (answered == dwCount) return S_OK;
  return answered == 0 ? E_NOINTERFACE : CO_S_NOTALLINTERFACES;
}

// An in-process object is running once created; one that must be started
// says so by answering IRunnableObject. No apartment is needed.
HRESULT OleRun(LPUNKNOWN pUnknown) {
  if (pUnknown == nullptr) return E_INVALIDARG;
  IRunnableObject *runnable = nullptr;
  if (FAILED(pUnknown->QueryInterface(IID_IRunnableObject, reinterpret_cast<void **>(&runnable))) ||
      runnable == nullptr)
    return S_OK;
  HRESULT hr = runnable->Run(nullptr);
  runnable->Release();
  return hr;
}
