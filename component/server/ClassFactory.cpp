#include "ClassFactory.h"

#include "ClassTable.h"
#include "Module.h"

namespace rv {

HRESULT ClassFactory::QueryInterface(REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The count changes under the factory's own lock, so that crossing between
// "held by the module only" (1) and "held by a client" (2) is seen once.
ULONG ClassFactory::AddRef() {
  Lock guard(lock_);
  if (++references_ == 2) Module::lock();
  return static_cast<ULONG>(references_);
}

ULONG ClassFactory::Release() {
  LONG remaining;
  {
    Lock guard(lock_);
    remaining = --references_;
    if (remaining == 1) Module::unlock();
  }
  if (remaining == 0) delete this;
  return static_cast<ULONG>(remaining);
}

HRESULT ClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return row_.create(outer, riid, object);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock)
    Module::lock();
  else
    Module::unlock();
  return S_OK;
}

}  // namespace rv
