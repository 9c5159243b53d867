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

  // The outer object's unknown for an aggregated node, the inner unknown
  // otherwise.
  IUnknown *controllingUnknown() { return aggregated_ ? *outerSlot() : static_cast<IUnknown *>(&inner_); }

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
  // Answers a query for anything but IUnknown: the entry of the class's
  // interface table for `riid`, counted, or E_NOINTERFACE (or what making
  // the answer failed with).
  virtual HRESULT findInterface(REFIID riid, void **object) = 0;
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

  // An aggregated node keeps its outer unknown in a block of its own just
  // before the node, so that the many nodes nobody aggregates carry no word
  // for it. The block is the node's allocation: the node starts this many
  // bytes into it, aligned as any object.
  static constexpr size_t OuterBlock = alignof(std::max_align_t);
  static_assert(OuterBlock >= sizeof(IUnknown *));
  // The start of the allocation that holds the whole object (the class's
  // object, of which this is a base).
  char *objectStart() { return static_cast<char *>(dynamic_cast<void *>(this)); }
  IUnknown **outerSlot() { return reinterpret_cast<IUnknown **>(objectStart() - OuterBlock); }
  void destroy();

  Inner inner_;
  LONG volatile references_ = 0;
  // Beside the count, in what would be its padding.
  bool aggregated_ = false;
};

// Where inner_ lies in an ObjectRoot; the same in every object, since
// ObjectRoot is never a virtual base.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
inline std::ptrdiff_t ObjectRoot::innerOffset() { return offsetof(ObjectRoot, inner_); }
#pragma GCC diagnostic pop

inline HRESULT ObjectRoot::innerQueryInterface(REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown)) return findInterface(riid, object);
  *object = static_cast<IUnknown *>(&inner_);
  innerAddRef();
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
  if (remaining == 0) destroy();
  return static_cast<ULONG>(remaining);
}

inline void ObjectRoot::destroy() {
  if (!aggregated_) {
    delete this;
    return;
  }
  char *block = objectStart() - OuterBlock;
  this->~ObjectRoot();
  ::operator delete(block);
}

template <typename T> HRESULT ObjectRoot::create(IUnknown *outer, REFIID riid, void **object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  T *created = nullptr;
  if (outer == nullptr) {
    created = new (std::nothrow) T();
  } else {
    static_assert(alignof(T) <= OuterBlock);
    char *block = static_cast<char *>(::operator new(OuterBlock + sizeof(T), std::nothrow));
    if (block != nullptr) {
      try {
        created = new (block + OuterBlock) T();
      } catch (...) {
        ::operator delete(block);
        throw;
      }
    }
  }
  if (created == nullptr) return E_OUTOFMEMORY;
  ObjectRoot *root = created;
  if (outer != nullptr) {
    root->aggregated_ = true;
    *root->outerSlot() = outer;
  }
  root->innerAddRef();
  HRESULT hr = root->FinalConstruct();
  if (SUCCEEDED(hr)) hr = root->innerQueryInterface(riid, object);
  root->innerRelease();
  return hr;
}

}  // namespace rv
