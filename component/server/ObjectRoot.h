// What every object of the seven classes is as a COM object: a reference
// count, the controlling unknown for aggregation, the interface table walk
// and the module lock. The interfaces themselves come from the class (see
// model/TRVPObjectImpl.h).
#pragma once
#include <windows.h>

#include <cstddef>
#include <new>

#include "Module.h"

namespace rv {

class PlainReader;
class PlainSizer;
class PlainWriter;

class ObjectRoot {
 public:
  ObjectRoot() { Module::lock(); }
  ObjectRoot(const ObjectRoot &) = delete;
  ObjectRoot &operator=(const ObjectRoot &) = delete;
  // The class's own destructor runs first, then the module lock is given back.
  virtual ~ObjectRoot() { Module::unlock(); }

  // The non-delegating IUnknown: what an aggregating outer object holds.
  HRESULT innerQueryInterface(REFIID riid, void **object);
  ULONG innerAddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG innerRelease();

  IUnknown *controllingUnknown() const { return controlling_; }

  // The object behind an interface pointer of one of this component's own
  // nodes; null for any other object. It lives as long as the caller's
  // reference to `unknown`.
  //
  // A node is known by its identity, the IUnknown every COM object answers:
  // ours is the inner unknown, whose method table belongs to this module
  // alone. Nothing new is asked of the object, and a node of another build
  // of this component (another module, another layout) is not taken for one
  // of ours. An aggregated node answers its outer object's identity and is
  // treated as any other object.
  static ObjectRoot *ownNode(IUnknown *unknown);

  // The plain walk of a blob (see TRVPObjectImpl::plainBlob): the
  // node's record and everything below it, counted or written. false where
  // the walk leaves the node to the framed transfer.
  virtual bool plainWalk(PlainSizer &) { return false; }
  virtual bool plainWalk(PlainWriter &) { return false; }
  // The plain read of the node's record, in place (see
  // TRVPObjectImpl::plainLoad); false where it leaves the read to the framed
  // transfer.
  virtual bool plainRead(PlainReader &) { return false; }

  // Nobody holds the object but the one reference its owner keeps.
  bool soleReference() const { return references_ == 1; }

  // Creates an object of class T, plain or aggregated in `outer`, runs its
  // final construction with the count raised, and asks it for `riid`.
  template <typename T> static HRESULT create(IUnknown *outer, REFIID riid, void **object);

 protected:
  // The entry of the class's interface table for `riid`, or null.
  virtual void *findInterface(REFIID riid) = 0;
  virtual HRESULT FinalConstruct() { return S_OK; }

 private:
  // The non-delegating IUnknown. It finds its object from its own address:
  // every object has thousands of siblings in a tree, so it keeps no
  // pointer back.
  struct Inner final : public IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
      return owner()->innerQueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner()->innerAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner()->innerRelease(); }
    ObjectRoot *owner() { return reinterpret_cast<ObjectRoot *>(reinterpret_cast<char *>(this) - innerOffset()); }
    // The method table every inner unknown of this module points at.
    static const void *table() {
      static const Inner model;
      return *reinterpret_cast<const void *const *>(&model);
    }
  };
  static std::ptrdiff_t innerOffset();

  Inner inner_;
  IUnknown *controlling_ = nullptr;
  // Last, so that a class's first small field can share its padding.
  LONG volatile references_ = 0;
};

// Where inner_ lies in an ObjectRoot; the same in every object, since
// ObjectRoot is never a virtual base.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
inline std::ptrdiff_t ObjectRoot::innerOffset() { return offsetof(ObjectRoot, inner_); }
#pragma GCC diagnostic pop

inline HRESULT ObjectRoot::innerQueryInterface(REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  void *found = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown *>(&inner_) : findInterface(riid);
  *object = found;
  if (found == nullptr) return E_NOINTERFACE;
  static_cast<IUnknown *>(found)->AddRef();
  return S_OK;
}

inline ObjectRoot *ObjectRoot::ownNode(IUnknown *unknown) {
  IUnknown *identity = nullptr;
  if (unknown == nullptr || FAILED(unknown->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity))) ||
      identity == nullptr)
    return nullptr;
  // Every interface pointer points at its method table.
  const bool ours = *reinterpret_cast<const void *const *>(identity) == Inner::table();
  ObjectRoot *node = ours ? static_cast<Inner *>(identity)->owner() : nullptr;
  identity->Release();
  return node;
}

inline ULONG ObjectRoot::innerRelease() {
  const LONG remaining = InterlockedDecrement(&references_);
  if (remaining == 0) delete this;
  return static_cast<ULONG>(remaining);
}

template <typename T> HRESULT ObjectRoot::create(IUnknown *outer, REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  T *created = new (std::nothrow) T();
  if (created == nullptr) return E_OUTOFMEMORY;
  ObjectRoot *root = created;
  root->controlling_ = outer != nullptr ? outer : static_cast<IUnknown *>(&root->inner_);
  root->innerAddRef();
  HRESULT hr = root->FinalConstruct();
  if (SUCCEEDED(hr)) hr = root->innerQueryInterface(riid, object);
  root->innerRelease();
  return hr;
}

}  // namespace rv
