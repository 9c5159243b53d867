// The IUnknown and IDispatch halves shared by every object of the DOM
// document: an atomic reference count and, for want of an MSXML type library
// on this platform, dispatch members that offer no late binding.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstddef>
#include <new>

namespace platform::msxml {

// Implements IUnknown and IDispatch for an object whose interfaces all derive
// in one line from Interface. The derived class names the further interfaces
// it answers to in answers().
template <class Interface> class DispatchObject : public Interface {
 public:
  DispatchObject() = default;
  DispatchObject(const DispatchObject &) = delete;
  DispatchObject &operator=(const DispatchObject &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !answers(riid)) return E_NOINTERFACE;
    *object = static_cast<Interface *>(this);
    this->AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
    return E_NOTIMPL;
  }

 protected:
  virtual ~DispatchObject() = default;
  virtual bool answers(REFIID riid) const = 0;

 private:
  std::atomic<ULONG> references_{1};
};

// Storage for the objects that a reader of a document makes by the thousand,
// one for every node, attribute and attribute map it is handed, and lets go
// of as soon as it has read them. Each thread keeps the blocks of the last
// ones it let go of for the next ones, instead of a trip through the heap
// for each; a block still comes from operator new the first time. Objects
// larger than a block, and every object in a build that checks memory, come
// and go through the heap as usual.
struct ReusedStorage {
  static void *operator new(std::size_t size, const std::nothrow_t &) noexcept;
  static void *operator new(std::size_t size);
  static void operator delete(void *block, std::size_t size) noexcept;
  static void operator delete(void *block, const std::nothrow_t &) noexcept;
};

// Holds one reference to a COM object and releases it on every path.
template <class T> class Ref {
 public:
  Ref() = default;
  // Takes over a reference the caller already holds.
  static Ref adopt(T *object) {
    Ref ref;
    ref.object_ = object;
    return ref;
  }
  // Adds a reference of its own.
  static Ref share(T *object) {
    if (object != nullptr) object->AddRef();
    return adopt(object);
  }
  Ref(const Ref &other) : object_(other.object_) {
    if (object_ != nullptr) object_->AddRef();
  }
  Ref(Ref &&other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  Ref &operator=(Ref other) {
    T *previous = object_;
    object_ = other.object_;
    other.object_ = previous;
    return *this;
  }
  ~Ref() {
    if (object_ != nullptr) object_->Release();
  }
  T *get() const { return object_; }
  T *operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller.
  T *detach() {
    T *object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  T *object_ = nullptr;
};

}  // namespace platform::msxml
