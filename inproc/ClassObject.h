// The class object of one class of a module. It lives as long as the module
// and is the same object for every caller; a client's reference to it holds
// the module, as LockServer does, while the module's own does not. Creation
// runs inside the entry boundary (Boundary.h).
#pragma once
#include <windows.h>
#include <objbase.h>

namespace rv::inproc {

// Makes an object of the class, plain or aggregated in `outer`, asked for `riid`.
using Create = HRESULT (*)(IUnknown *outer, REFIID riid, void **object);

// Whether a class can be aggregated. An aggregated object must hand its
// outer object the non-delegating IUnknown, so only IUnknown may be asked
// for then.
enum class Aggregation { Refused, Allowed };

class ClassObject final : public IClassFactory {
 public:
  explicit ClassObject(Create create, Aggregation aggregation = Aggregation::Refused)
      : create_(create), aggregation_(aggregation) {}
  ClassObject(const ClassObject &) = delete;
  ClassObject &operator=(const ClassObject &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  Create create_;
  Aggregation aggregation_;
};

// DllGetClassObject over a module's table of classes, whose rows name their
// class as `clsid` (a pointer) and hold its `classObject`.
template <typename Rows> HRESULT getClassObject(const Rows &rows, REFCLSID clsid, REFIID riid, void **object) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  for (const auto &row : rows)
    if (IsEqualCLSID(clsid, *row.clsid)) return row.classObject.QueryInterface(riid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace rv::inproc
