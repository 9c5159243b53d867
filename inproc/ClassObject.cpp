#include "ClassObject.h"

#include "Boundary.h"
#include "Module.h"

namespace rv::inproc {

HRESULT ClassObject::QueryInterface(REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  *object = static_cast<IClassFactory *>(this);
  AddRef();
  return S_OK;
}

// The module's own reference is never counted; every other one holds the
// module, so the counts a client sees are the module's.
ULONG ClassObject::AddRef() {
  Module::lock();
  return 2;
}

ULONG ClassObject::Release() {
  Module::unlock();
  return 1;
}

HRESULT ClassObject::CreateInstance(IUnknown *outer, REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && (aggregation_ == Aggregation::Refused || !IsEqualIID(riid, IID_IUnknown)))
    return CLASS_E_NOAGGREGATION;
  return boundary([&] { return create_(outer, riid, object); });
}

HRESULT ClassObject::LockServer(BOOL lock) {
  if (lock)
    Module::lock();
  else
    Module::unlock();
  return S_OK;
}

}  // namespace rv::inproc
